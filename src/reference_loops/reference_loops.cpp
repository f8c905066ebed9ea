/*
 * fennick._reference_loops: native loops behind fennick.slow, for the
 * numeric element types that fennick.dozudiror hands it (bool, integers of
 * 8 to 64 bits, float16, and data in non-native byte order), built from
 * the same kernels and planned by the same rules.  fennick.slow calls
 * replace first and keeps its NumPy code for whatever this returns
 * NotImplemented for.  settle converts the scalars once, by the same
 * rules, for fennick.parallel and fennick.dask.
 *
 * All arguments are borrowed; a replacement holds one reference of its own
 * to the array while it works.
 */
#include "../kernels/kernels.h"
#include "../module/many_call.h"
#include "../module/native_module.h"
#include "../kernels/walk.h"

#include <string.h>

/* Replaces with the walks of `table`.  Returns `a` with a new reference,
   Py_NotImplemented (new reference) for an element type it does not
   serve, or NULL with an exception set. */
static PyObject *
replace_with_table(const WalkTable *table, PyObject *a, PyObject *old,
                   PyObject *new_)
{
    if (!PyArray_Check(a) || !replace_serves((PyArrayObject *)a)) {
        Py_RETURN_NOTIMPLEMENTED;
    }
    PyArrayObject *arr = (PyArrayObject *)a;
    Py_INCREF(arr); /* held until the walk has returned */
    Scalar old_s, new_s;
    PyObject *result = NULL;
    if (scalar_from_object(old, &old_s, ScalarName{"old", -1}) == 0
        && scalar_from_object(new_, &new_s, ScalarName{"new", -1}) == 0) {
        /* A __float__ may have changed the array's dtype. */
        if (replace_serves(arr)) {
            result = replace_numeric(arr, &old_s, &new_s, table);
        }
        else {
            result = Py_NewRef(Py_NotImplemented);
        }
    }
    Py_DECREF(arr);
    return result;
}

static PyObject *
replace(PyObject *Py_UNUSED(self), PyObject *const *args, Py_ssize_t nargs)
{
    if (nargs != 3) {
        PyErr_SetString(PyExc_TypeError, "replace takes (a, old, new)");
        return NULL;
    }
    return replace_with_table(walk_table, args[0], args[1], args[2]);
}

/* Whether settle serves arrays of `kind`: those whose every route reads a
   scalar only as its exact integer value or its double. */
static bool
settles_kind(char kind)
{
    return kind == 'b' || kind == 'i' || kind == 'u' || kind == 'f';
}

/* `obj`, read as `s`, as a plain int or float that the loops read as they
   read `s` in an array of `kind`: an int's exact value for bool and
   integer arrays, else the double.  Returns a new reference, or NULL with
   an exception set. */
static PyObject *
settled_number(PyObject *obj, const Scalar *s, char kind)
{
    if (kind == 'f' || !s->is_integer) {
        return PyFloat_FromDouble(s->value);
    }
    if (PyLong_Check(obj)) {
        /* An int of the exact type with the same value; for a subclass
           none of its own methods run. */
        return PyNumber_Index(obj);
    }
    /* A NumPy integer, which always fits in 64 bits. */
    if (s->negative) {
        return PyLong_FromLongLong((long long)(0 - s->magnitude));
    }
    return PyLong_FromUnsignedLongLong(s->magnitude);
}

static PyObject *
settle(PyObject *Py_UNUSED(self), PyObject *const *args, Py_ssize_t nargs)
{
    if (nargs != 3) {
        PyErr_SetString(PyExc_TypeError, "settle takes (a, old, new)");
        return NULL;
    }
    PyObject *a = args[0];
    if (!PyArray_Check(a)
        || !settles_kind(PyArray_DESCR((PyArrayObject *)a)->kind)) {
        Py_RETURN_NOTIMPLEMENTED;
    }
    Scalar old_s, new_s;
    if (scalar_from_object(args[1], &old_s, ScalarName{"old", -1}) < 0
        || scalar_from_object(args[2], &new_s, ScalarName{"new", -1}) < 0) {
        return NULL;
    }
    /* A __float__ may have changed the array's dtype. */
    const char kind = PyArray_DESCR((PyArrayObject *)a)->kind;
    if (!settles_kind(kind)) {
        Py_RETURN_NOTIMPLEMENTED;
    }
    PyObject *old = settled_number(args[1], &old_s, kind);
    if (old == NULL) {
        return NULL;
    }
    PyObject *new_ = settled_number(args[2], &new_s, kind);
    if (new_ == NULL) {
        Py_DECREF(old);
        return NULL;
    }
    PyObject *pair = PyTuple_Pack(2, old, new_);
    Py_DECREF(old);
    Py_DECREF(new_);
    return pair;
}

/* The builds this processor runs, widest first. */
static int
usable_tables(const WalkTable **tables)
{
    return kernels_usable(tables, KERNELS_MAX_TABLES);
}

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
    const int n = usable_tables(tables);
    for (int i = 0; i < n; i++) {
        if (strcmp(tables[i]->name, wanted) == 0) {
            return tables[i];
        }
    }
    PyErr_Format(PyExc_ValueError, "no %s build of the loops runs here",
                 wanted);
    return NULL;
}

static PyObject *
replace_with(PyObject *Py_UNUSED(self), PyObject *const *args,
             Py_ssize_t nargs)
{
    if (nargs != 4) {
        PyErr_SetString(PyExc_TypeError,
                        "replace_with takes (width, a, old, new)");
        return NULL;
    }
    const WalkTable *table = table_named(args[0]);
    return table == NULL
               ? NULL
               : replace_with_table(table, args[1], args[2], args[3]);
}

/* The copying replace with the walks of `width`: a new array, `a` only
   read.  Returns it, Py_NotImplemented (new reference) for an element type
   the loops do not serve, or NULL with an exception set. */
static PyObject *
replaced_with(PyObject *Py_UNUSED(self), PyObject *const *args,
              Py_ssize_t nargs)
{
    if (nargs != 4) {
        PyErr_SetString(PyExc_TypeError,
                        "replaced_with takes (width, a, old, new)");
        return NULL;
    }
    const WalkTable *table = table_named(args[0]);
    if (table == NULL) {
        return NULL;
    }
    if (!PyArray_Check(args[1]) || !replace_serves((PyArrayObject *)args[1])) {
        Py_RETURN_NOTIMPLEMENTED;
    }
    PyArrayObject *arr = (PyArrayObject *)args[1];
    Py_INCREF(arr); /* held until the copy is made */
    Scalar old_s, new_s;
    PyObject *result = NULL;
    if (scalar_from_object(args[2], &old_s, ScalarName{"old", -1}) == 0
        && scalar_from_object(args[3], &new_s, ScalarName{"new", -1}) == 0) {
        /* A __float__ may have changed the array's dtype. */
        result = replace_serves(arr)
                     ? replaced_numeric(arr, &old_s, &new_s, table)
                     : Py_NewRef(Py_NotImplemented);
    }
    Py_DECREF(arr);
    return result;
}

static PyObject *
replace_many_with(PyObject *Py_UNUSED(self), PyObject *const *args,
                  Py_ssize_t nargs)
{
    const int pairwise = nargs == 5 ? PyObject_IsTrue(args[4]) : -1;
    if (pairwise < 0 || many_count(args[2]) < 0 || many_count(args[3]) < 0
        || (pairwise ? many_count(args[3]) != many_count(args[2])
                     : many_count(args[3]) != 1)) {
        if (!PyErr_Occurred()) {
            PyErr_SetString(PyExc_TypeError,
                            "replace_many_with takes (width, a, olds, news, "
                            "pairwise) as fennick.replace_many hands them on");
        }
        return NULL;
    }
    const WalkTable *table = table_named(args[0]);
    if (table == NULL) {
        return NULL;
    }
    if (!PyArray_Check(args[1]) || !replace_serves((PyArrayObject *)args[1])) {
        Py_RETURN_NOTIMPLEMENTED;
    }
    PyArrayObject *arr = (PyArrayObject *)args[1];
    Py_INCREF(arr); /* held until the walk has returned */
    PyObject *result =
        replace_many_with_table(arr, args[2], args[3], pairwise, table);
    Py_DECREF(arr);
    return result;
}

/* The tuple `items`, each converted (a failure names it `what[i]`, or
   `what` when `indexed` is false) and settled for arrays of `a`'s kind,
   into *out (a new tuple).  A 1-d numeric array of items is its own
   settled form.  Returns 1, 0 when `a`'s kind is not (or no longer) one
   that settles, or -1 with an exception set. */
static int
settle_items(PyArrayObject *a, PyObject *items, const char *what, bool indexed,
             PyObject **out)
{
    if (!PyTuple_Check(items)) {
        *out = Py_NewRef(items);
        return 1;
    }
    const Py_ssize_t n = PyTuple_GET_SIZE(items);
    Scalar *scalars = (Scalar *)PyMem_Malloc(sizeof(Scalar) * (size_t)(n + 1));
    if (scalars == NULL) {
        PyErr_NoMemory();
        return -1;
    }
    int status = 1;
    for (Py_ssize_t i = 0; i < n && status == 1; i++) {
        if (scalar_from_object(PyTuple_GET_ITEM(items, i), &scalars[i],
                               ScalarName{what, indexed ? i : -1})
            < 0) {
            status = -1;
        }
    }
    /* A __float__ may have changed the array's dtype. */
    const char kind = PyArray_DESCR(a)->kind;
    if (status == 1 && !settles_kind(kind)) {
        status = 0;
    }
    *out = status == 1 ? PyTuple_New(n) : NULL;
    if (status == 1 && *out == NULL) {
        status = -1;
    }
    for (Py_ssize_t i = 0; i < n && status == 1; i++) {
        PyObject *number =
            settled_number(PyTuple_GET_ITEM(items, i), &scalars[i], kind);
        if (number == NULL) {
            Py_CLEAR(*out);
            status = -1;
            break;
        }
        PyTuple_SET_ITEM(*out, i, number);
    }
    PyMem_Free(scalars);
    return status;
}

static PyObject *
settle_many(PyObject *Py_UNUSED(self), PyObject *const *args, Py_ssize_t nargs)
{
    if (nargs != 4) {
        PyErr_SetString(PyExc_TypeError,
                        "settle_many takes (a, olds, news, pairwise)");
        return NULL;
    }
    const int pairwise = PyObject_IsTrue(args[3]);
    if (pairwise < 0) {
        return NULL;
    }
    if (!PyArray_Check(args[0])
        || !settles_kind(PyArray_DESCR((PyArrayObject *)args[0])->kind)) {
        Py_RETURN_NOTIMPLEMENTED;
    }
    PyArrayObject *a = (PyArrayObject *)args[0];
    PyObject *olds = NULL, *news = NULL, *result = NULL;
    int status = settle_items(a, args[1], "old", true, &olds);
    if (status == 1) {
        status = settle_items(a, args[2], "new", pairwise, &news);
    }
    if (status == 1) {
        result = PyTuple_Pack(3, olds, news, args[3]);
    }
    else if (status == 0) {
        result = Py_NewRef(Py_NotImplemented);
    }
    Py_XDECREF(olds);
    Py_XDECREF(news);
    return result;
}

PyDoc_STRVAR(
    replace_doc,
    "replace(a, old, new)\n"
    "--\n"
    "\n"
    "Replace, in place, every element of `a` equal to `old` with `new`, with\n"
    "the rules of fennick.replace, when `a` is an array of bool, integers,\n"
    "float16, float32 or float64 in either byte order; return `a`.  For any\n"
    "other argument return NotImplemented.");

PyDoc_STRVAR(
    settle_doc,
    "settle(a, old, new)\n"
    "--\n"
    "\n"
    "Convert `old` and `new` as replace does (the same errors, `old` first)\n"
    "and return them as a pair of plain ints or floats that replace reads\n"
    "alike in `a`, an array of bool, integers or floats: an int's exact "
    "value\n"
    "for bool and integer arrays, else the float.  Calls that hand the\n"
    "scalars to replace many times then run a user's conversion once.  For\n"
    "any other argument return NotImplemented, converting nothing.");

PyDoc_STRVAR(
    replace_with_doc,
    "replace_with(width, a, old, new)\n"
    "--\n"
    "\n"
    "Like replace, with the loops built for `width` (one of `widths`), so\n"
    "that the builds can be compared with each other.");

PyDoc_STRVAR(
    settle_many_doc,
    "settle_many(a, olds, news, pairwise)\n"
    "--\n"
    "\n"
    "settle for fennick.replace_many's tuples of scalars (a failed\n"
    "conversion names its item, `old[2]`): (olds, news, pairwise) with\n"
    "plain numbers, a 1-d numeric array staying as it is, or NotImplemented\n"
    "for arrays other than bool, integers or floats.");

PyDoc_STRVAR(
    replace_many_with_doc,
    "replace_many_with(width, a, olds, news, pairwise)\n"
    "--\n"
    "\n"
    "fennick.replace_many's native work, as it is handed on (see\n"
    "fennick.many.pairs), with the loops built for `width`; NotImplemented\n"
    "for an array the loops do not serve.");

PyDoc_STRVAR(
    replaced_with_doc,
    "replaced_with(width, a, old, new)\n"
    "--\n"
    "\n"
    "A new array equal to `a` copied in its memory order and replaced as\n"
    "replace_with(width, ...) would, made by the copying loops built for\n"
    "`width`; `a` is only read.  NotImplemented for an array the loops do\n"
    "not serve.");

static PyMethodDef reference_loops_methods[] = {
    {"replace", (PyCFunction)(void (*)(void))replace, METH_FASTCALL,
     replace_doc},
    {"replace_with", (PyCFunction)(void (*)(void))replace_with, METH_FASTCALL,
     replace_with_doc},
    {"replaced_with", (PyCFunction)(void (*)(void))replaced_with,
     METH_FASTCALL, replaced_with_doc},
    {"replace_many_with", (PyCFunction)(void (*)(void))replace_many_with,
     METH_FASTCALL, replace_many_with_doc},
    {"settle", (PyCFunction)(void (*)(void))settle, METH_FASTCALL, settle_doc},
    {"settle_many", (PyCFunction)(void (*)(void))settle_many, METH_FASTCALL,
     settle_many_doc},
    {NULL, NULL, 0, NULL} /* sentinel */
};

PyDoc_STRVAR(
    module_doc,
    "Native loops behind fennick.slow.\n"
    "\n"
    "width is the vector width chosen for this processor at import (it "
    "serves\n"
    "fennick.replace too); widths lists every width built in that the\n"
    "processor runs, widest first.");

static struct PyModuleDef reference_loops_module_def = {
    PyModuleDef_HEAD_INIT,
    "_reference_loops",      /* m_name */
    module_doc,              /* m_doc */
    -1,                      /* m_size: single-phase, process-wide state */
    reference_loops_methods, /* m_methods */
    NULL,                    /* m_slots */
    NULL,                    /* m_traverse */
    NULL,                    /* m_clear */
    NULL,                    /* m_free */
};

/* Adds `width` and `widths`.  Returns 0, or -1 with an exception set. */
static int
add_widths(PyObject *m)
{
    const WalkTable *tables[KERNELS_MAX_TABLES];
    const int n = usable_tables(tables);
    PyObject *widths = PyTuple_New(n);
    if (widths == NULL) {
        return -1;
    }
    for (int i = 0; i < n; i++) {
        PyObject *name = PyUnicode_FromString(tables[i]->name);
        if (name == NULL) {
            Py_DECREF(widths);
            return -1;
        }
        PyTuple_SET_ITEM(widths, i, name);
    }
    if (PyModule_AddObject(m, "widths", widths) < 0) {
        Py_DECREF(widths);
        return -1;
    }
    return PyModule_AddStringConstant(m, "width", walk_table->name);
}

PyMODINIT_FUNC
PyInit__reference_loops(void)
{
    PyObject *m = native_module_create(&reference_loops_module_def);
    if (m == NULL) {
        return NULL;
    }
    if (add_widths(m) < 0) {
        Py_DECREF(m);
        return NULL;
    }
    return m;
}
