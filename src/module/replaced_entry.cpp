/*
 * The _replaced(a, old, new) and _replaced_many(a, olds, news, pairwise)
 * entry points behind fennick.replaced and fennick.replaced_many.
 *
 * _replaced: numeric
 * arrays (bool, integers of 8 to 64 bits, float16 to float64, in either
 * byte order: the loops' route) are copied and replaced in one pass by the
 * rules the reference module keeps for them; for every other array it
 * returns NotImplemented, and the caller copies and replaces.  An `into`
 * array (private: the caller makes sure it shares no memory with `a`)
 * takes the result instead of a new array, so that fennick.pandas can
 * write the columns of one frame into one block.
 *
 * _replaced_many: the same for replace_many's tuples (or 1-d numeric
 * arrays) of olds and news, in one pass for one old or a few; for more it
 * returns NotImplemented, and the caller copies and replaces.
 *
 * All arguments are borrowed.  The call holds one reference of its own to
 * `a` while it works.
 */
#include "../kernels/kernels.h"
#include "../scalar/scalar.h"
#include "entry.h"
#include "many_call.h"

PyObject *
replaced_call(const WalkTable *table, PyObject *const *args, Py_ssize_t nargs)
{
    if (nargs != 3 && nargs != 4) {
        PyErr_SetString(PyExc_TypeError,
                        "_replaced takes (a, old, new[, into])");
        return NULL;
    }
    if (!PyArray_Check(args[0])) {
        PyErr_SetString(PyExc_TypeError,
                        "input must be an array, not (e.g.) a list");
        return NULL;
    }
    PyArrayObject *arr = (PyArrayObject *)args[0];
    PyArrayObject *into = NULL;
    if (nargs == 4) {
        into = (PyArrayObject *)args[3];
        if (!PyArray_Check(args[3]) || !PyArray_ISWRITEABLE(into)
            || !PyArray_SAMESHAPE(arr, into)
            || !PyArray_EquivTypes(PyArray_DESCR(arr), PyArray_DESCR(into))) {
            PyErr_SetString(PyExc_ValueError,
                            "`into` must be a writeable array of a's shape "
                            "and dtype");
            return NULL;
        }
    }
    if (array_route(arr) == ROUTE_NUMPY) {
        Py_RETURN_NOTIMPLEMENTED;
    }
    Py_INCREF(arr); /* held until the copy is made */
    Scalar old_s, new_s;
    PyObject *result = NULL;
    if (scalar_from_object(args[1], &old_s, ScalarName{"old", -1}) == 0
        && scalar_from_object(args[2], &new_s, ScalarName{"new", -1}) == 0) {
        /* The conversions may have run Python code (__float__) that
           changed the array's dtype, so the route is read afresh. */
        result = array_route(arr) != ROUTE_NUMPY
                     ? replaced_numeric(arr, &old_s, &new_s, table, into)
                     : Py_NewRef(Py_NotImplemented);
    }
    Py_DECREF(arr);
    return result;
}

PyObject *
replaced_entry(PyObject *Py_UNUSED(self), PyObject *const *args,
               Py_ssize_t nargs)
{
    return replaced_call(walk_table, args, nargs);
}

PyObject *
replaced_many_call(const WalkTable *table, PyObject *const *args,
                   Py_ssize_t nargs)
{
    bool pairwise;
    if (many_arguments(args, nargs, "_replaced_many", &pairwise) < 0) {
        return NULL;
    }
    if (!PyArray_Check(args[0])) {
        PyErr_SetString(PyExc_TypeError,
                        "input must be an array, not (e.g.) a list");
        return NULL;
    }
    PyArrayObject *arr = (PyArrayObject *)args[0];
    if (array_route(arr) == ROUTE_NUMPY) {
        Py_RETURN_NOTIMPLEMENTED;
    }
    Py_INCREF(arr); /* held until the copy is made */
    PyObject *result =
        replaced_many_with_table(arr, args[1], args[2], pairwise, table);
    Py_DECREF(arr);
    return result;
}

PyObject *
replaced_many_entry(PyObject *Py_UNUSED(self), PyObject *const *args,
                    Py_ssize_t nargs)
{
    return replaced_many_call(walk_table, args, nargs);
}
