/*
 * The width hook: the builds of the loops this processor runs (_widths,
 * widest first, and _width, the one chosen at import that serves every
 * other call), and replace, the copying replace, replace_many and the
 * copying replace_many with the loops of a named build, so that tests and the benchmark run every width
 * on one machine.
 *
 * All arguments are borrowed; a replacement holds one reference of its own
 * to the array while it works.
 */
#include <string.h>

#include "../kernels/kernels.h"
#include "../kernels/walk.h"
#include "entry.h"
#include "many_call.h"

/* The build named by `name` (a str) among those this processor runs.
   Returns it, or NULL with an exception set. */
static const WalkTable *
table_named(PyObject *name)
{
    const char *wanted = PyUnicode_Check(name) ? PyUnicode_AsUTF8(name) : NULL;
    if (wanted == NULL) {
        if (!PyErr_Occurred()) {
            PyErr_SetString(PyExc_TypeError, "a width is a str");
        }
        return NULL;
    }
    const WalkTable *tables[KERNELS_MAX_TABLES];
    const int n = kernels_usable(tables, KERNELS_MAX_TABLES);
    for (int i = 0; i < n; i++) {
        if (strcmp(tables[i]->name, wanted) == 0) {
            return tables[i];
        }
    }
    PyErr_Format(PyExc_ValueError, "no %s build of the loops runs here",
                 wanted);
    return NULL;
}

PyObject *
replace_with_entry(PyObject *Py_UNUSED(self), PyObject *const *args,
                   Py_ssize_t nargs)
{
    if (nargs != 4) {
        PyErr_SetString(PyExc_TypeError,
                        "_replace_with takes (width, a, old, new)");
        return NULL;
    }
    const WalkTable *table = table_named(args[0]);
    return table == NULL ? NULL
                         : numeric_replace(table, args[1], args[2], args[3]);
}

PyObject *
replaced_with_entry(PyObject *Py_UNUSED(self), PyObject *const *args,
                    Py_ssize_t nargs)
{
    if (nargs < 1) {
        PyErr_SetString(PyExc_TypeError,
                        "_replaced_with takes (width, a, old, new)");
        return NULL;
    }
    const WalkTable *table = table_named(args[0]);
    return table == NULL ? NULL : replaced_call(table, args + 1, nargs - 1);
}

PyObject *
replaced_many_with_entry(PyObject *Py_UNUSED(self), PyObject *const *args,
                         Py_ssize_t nargs)
{
    if (nargs < 1) {
        PyErr_SetString(PyExc_TypeError,
                        "_replaced_many_with takes (width, a, olds, news, "
                        "pairwise)");
        return NULL;
    }
    const WalkTable *table = table_named(args[0]);
    return table == NULL ? NULL
                         : replaced_many_call(table, args + 1, nargs - 1);
}

PyObject *
replace_many_with_entry(PyObject *Py_UNUSED(self), PyObject *const *args,
                        Py_ssize_t nargs)
{
    const int pairwise = nargs == 5 ? PyObject_IsTrue(args[4]) : -1;
    if (pairwise < 0 || many_count(args[2]) < 0 || many_count(args[3]) < 0
        || (pairwise ? many_count(args[3]) != many_count(args[2])
                     : many_count(args[3]) != 1)) {
        if (!PyErr_Occurred()) {
            PyErr_SetString(PyExc_TypeError,
                            "_replace_many_with takes (width, a, olds, news, "
                            "pairwise) as fennick.replace_many hands them on");
        }
        return NULL;
    }
    const WalkTable *table = table_named(args[0]);
    if (table == NULL) {
        return NULL;
    }
    if (!PyArray_Check(args[1])
        || array_route((PyArrayObject *)args[1]) == ROUTE_NUMPY) {
        Py_RETURN_NOTIMPLEMENTED;
    }
    PyArrayObject *arr = (PyArrayObject *)args[1];
    Py_INCREF(arr); /* held until the walk has returned */
    PyObject *result =
        replace_many_with_table(arr, args[2], args[3], pairwise, table);
    Py_DECREF(arr);
    return result;
}

/* Fills `widths` (a new tuple of `n` names) and `isas` (a new dict) from
   `tables`.  Returns 0, or -1 with an exception set. */
static int
fill_widths(const WalkTable *const *tables, int n, PyObject *widths,
            PyObject *isas)
{
    for (int i = 0; i < n; i++) {
        PyObject *name = PyUnicode_FromString(tables[i]->name);
        if (name == NULL) {
            return -1;
        }
        PyTuple_SET_ITEM(widths, i, name); /* steals it */
        PyObject *isa = PyUnicode_FromString(tables[i]->isa);
        if (isa == NULL || PyDict_SetItem(isas, name, isa) < 0) {
            Py_XDECREF(isa);
            return -1;
        }
        Py_DECREF(isa);
    }
    return 0;
}

int
add_widths(PyObject *m)
{
    const WalkTable *tables[KERNELS_MAX_TABLES];
    const int n = kernels_usable(tables, KERNELS_MAX_TABLES);
    PyObject *widths = PyTuple_New(n);
    PyObject *isas = PyDict_New();
    int status = -1;
    if (widths != NULL && isas != NULL
        && fill_widths(tables, n, widths, isas) == 0
        && PyModule_AddObjectRef(m, "_widths", widths) == 0
        && PyModule_AddObjectRef(m, "_width_isas", isas) == 0) {
        status = PyModule_AddStringConstant(m, "_width", walk_table->name);
    }
    Py_XDECREF(widths);
    Py_XDECREF(isas);
    return status;
}
