/*
 * The dozudiror module: its definition, method table, docstrings and the
 * single-phase init that imports NumPy's C API, chooses the loops' vector
 * width and interns the keyword names.  All state is process-wide and
 * lives until the process ends.  This unit defines NumPy's C-API table,
 * which every other unit shares.
 */
#define FENNICK_OWNS_NUMPY_API
#include "../numpy_api.h"

#include "../kernels/kernels.h"
#include "entry.h"

/* Exported (the build hides everything else by default). */
extern "C" {
__attribute__((visibility("default"))) PyObject *pystr_a = NULL;
__attribute__((visibility("default"))) PyObject *pystr_old = NULL;
__attribute__((visibility("default"))) PyObject *pystr_new = NULL;
}

/* The first line and the "--" marker give the method its signature for
   inspect and help(); __doc__ starts after the marker, with the signature
   line repeated. */
PyDoc_STRVAR(
    replace_doc,
    "replace(a, old, new)\n"
    "--\n"
    "\n"
    "replace(a, old, new)\n"
    "\n"
    "Replace (inplace) given scalar values of an array with new values.\n"
    "\n"
    "Equivalent to the NumPy statement ``a[a==old] = new``, or, when `old` "
    "is\n"
    "NaN, to ``a[np.isnan(a)] = new``.\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "a : numpy.ndarray\n"
    "    The input array, which is also the output array since the function\n"
    "    works in place.\n"
    "old : scalar\n"
    "    Every element of `a` with this value is replaced by `new`.\n"
    "new : scalar\n"
    "    The replacement value.\n"
    "\n"
    "Returns\n"
    "-------\n"
    "out : numpy.ndarray\n"
    "    A view of the input array after the replacements, if any: `a`\n"
    "    itself.\n"
    "\n"
    "Raises\n"
    "------\n"
    "TypeError\n"
    "    If `a` is not an ndarray, if the call does not name exactly `a`,\n"
    "    `old` and `new`, or if `old` or `new` is not a real number (complex\n"
    "    numbers are refused).\n"
    "ValueError\n"
    "    If `a` is an integer array and `old` or `new` is not exactly one of\n"
    "    its values (\"Cannot safely cast `old` to int\"), or if `a` is\n"
    "    read-only (\"assignment destination is read-only\").\n"
    "\n"
    "See Also\n"
    "--------\n"
    "fennick.replace_parallel : The same on several threads, for large\n"
    "    arrays.\n"
    "fennick.dask.replace : Replaced copies of the blocks of a dask array.\n"
    "\n"
    "Notes\n"
    "-----\n"
    "float64 elements compare with `old` under IEEE equality: ``0`` matches\n"
    "``0.0`` and ``-0.0``, and a NaN `old` matches every NaN.  float32 and\n"
    "float16 arrays compare and write `old` and `new` rounded to their own\n"
    "type.  Integer arrays take an int or NumPy integer scalar exactly, and\n"
    "any other number only when it is integral; either way it must lie in\n"
    "the element type's range.  A NaN `old` matches no integer, and the call\n"
    "then changes nothing.\n"
    "\n"
    "float64, float32, int64 and int32 arrays in native byte order are\n"
    "served by native loops that release the interpreter lock; every other\n"
    "array goes to ``fennick.slow.replace`` with the call's own arguments.\n"
    "In native byte order `old` and `new` are converted to numbers first,\n"
    "for every element type.\n"
    "\n"
    "A read-only array is refused before anything is written.  A masked\n"
    "array is replaced in its data, masked or not, and its mask is left\n"
    "alone.\n"
    "\n"
    "Examples\n"
    "--------\n"
    ">>> import numpy as np\n"
    ">>> import fennick\n"
    ">>> a = np.array([1, 2, 0])\n"
    ">>> _ = fennick.replace(a, 0, 3)\n"
    ">>> a\n"
    "array([1, 2, 3])\n"
    ">>> a = np.array([1, 2, np.nan])\n"
    ">>> _ = fennick.replace(a, np.nan, 0)\n"
    ">>> a\n"
    "array([1., 2., 0.])\n");

PyDoc_STRVAR(
    replace_many_doc,
    "_replace_many(a, olds, news, pairwise)\n"
    "--\n"
    "\n"
    "The native work of fennick.replace_many, whose forms have been turned\n"
    "into tuples: olds[i] becomes news[i] when `pairwise`, else news[0].\n"
    "Numeric arrays are replaced natively, every other array by\n"
    "fennick.slow._replace_many.  Returns `a`.");

PyDoc_STRVAR(
    replaced_doc,
    "_replaced(a, old, new)\n"
    "--\n"
    "\n"
    "The native work of fennick.replaced: a new array equal to `a` copied\n"
    "in its memory order and then replaced, made in one pass.  Returns\n"
    "NotImplemented for an element type that replace leaves to\n"
    "fennick.slow.");

PyDoc_STRVAR(
    replaced_many_doc,
    "_replaced_many(a, olds, news, pairwise)\n"
    "--\n"
    "\n"
    "The native work of fennick.replaced_many, with the olds and news as\n"
    "_replace_many takes them: a new array equal to `a` copied in its\n"
    "memory order and then replaced, made in one pass for one old or a\n"
    "few.  Returns NotImplemented for more olds, and for an element type\n"
    "that replace leaves to fennick.slow.");

PyDoc_STRVAR(
    numeric_replace_doc,
    "_replace_numeric(a, old, new)\n"
    "--\n"
    "\n"
    "Replace, in place, every element of `a` equal to `old` with `new`, with\n"
    "the rules of fennick.replace, when `a` is an array of bool, integers,\n"
    "float16, float32 or float64 in either byte order; return `a`.  For any\n"
    "other argument return NotImplemented.");

PyDoc_STRVAR(
    settle_doc,
    "_settle(a, old, new)\n"
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
    settle_many_doc,
    "_settle_many(a, olds, news, pairwise)\n"
    "--\n"
    "\n"
    "_settle for fennick.replace_many's tuples of scalars (a failed\n"
    "conversion names its item, `old[2]`): (olds, news, pairwise) with\n"
    "plain numbers, a 1-d numeric array staying as it is, or NotImplemented\n"
    "for arrays other than bool, integers or floats.");

PyDoc_STRVAR(
    replace_with_doc,
    "_replace_with(width, a, old, new)\n"
    "--\n"
    "\n"
    "Like _replace_numeric, with the loops built for `width` (one of\n"
    "`_widths`), so that the builds can be compared with each other.");

PyDoc_STRVAR(
    replaced_with_doc,
    "_replaced_with(width, a, old, new)\n"
    "--\n"
    "\n"
    "A new array equal to `a` copied in its memory order and replaced as\n"
    "_replace_with(width, ...) would, made by the copying loops built for\n"
    "`width`; `a` is only read.  NotImplemented for an array the loops do\n"
    "not serve.");

PyDoc_STRVAR(replaced_many_with_doc,
             "_replaced_many_with(width, a, olds, news, pairwise)\n"
             "--\n"
             "\n"
             "Like _replaced_many, with the copying loops built for `width`.");

PyDoc_STRVAR(
    replace_many_with_doc,
    "_replace_many_with(width, a, olds, news, pairwise)\n"
    "--\n"
    "\n"
    "fennick.replace_many's native work, as it is handed on (see\n"
    "fennick.many), with the loops built for `width`; NotImplemented\n"
    "for an array the loops do not serve.");

static PyMethodDef dozudiror_methods[] = {
    {"replace", (PyCFunction)(void (*)(void))replace_entry,
     METH_VARARGS | METH_KEYWORDS, replace_doc},
    {"_replace_many", (PyCFunction)(void (*)(void))replace_many_entry,
     METH_FASTCALL, replace_many_doc},
    {"_replaced", (PyCFunction)(void (*)(void))replaced_entry, METH_FASTCALL,
     replaced_doc},
    {"_replaced_many", (PyCFunction)(void (*)(void))replaced_many_entry,
     METH_FASTCALL, replaced_many_doc},
    {"_replace_numeric", (PyCFunction)(void (*)(void))numeric_replace_entry,
     METH_FASTCALL, numeric_replace_doc},
    {"_settle", (PyCFunction)(void (*)(void))settle_entry, METH_FASTCALL,
     settle_doc},
    {"_settle_many", (PyCFunction)(void (*)(void))settle_many_entry,
     METH_FASTCALL, settle_many_doc},
    {"_replace_with", (PyCFunction)(void (*)(void))replace_with_entry,
     METH_FASTCALL, replace_with_doc},
    {"_replaced_with", (PyCFunction)(void (*)(void))replaced_with_entry,
     METH_FASTCALL, replaced_with_doc},
    {"_replace_many_with",
     (PyCFunction)(void (*)(void))replace_many_with_entry, METH_FASTCALL,
     replace_many_with_doc},
    {"_replaced_many_with",
     (PyCFunction)(void (*)(void))replaced_many_with_entry, METH_FASTCALL,
     replaced_many_with_doc},
    {NULL, NULL, 0, NULL} /* sentinel */
};

PyDoc_STRVAR(module_doc, "Fennick nonreducing functions.");

static struct PyModuleDef dozudiror_module_def = {
    PyModuleDef_HEAD_INIT,
    "dozudiror",       /* m_name */
    module_doc,        /* m_doc */
    -1,                /* m_size: single-phase, process-wide state */
    dozudiror_methods, /* m_methods */
    NULL,              /* m_slots */
    NULL,              /* m_traverse */
    NULL,              /* m_clear */
    NULL,              /* m_free */
};

/* import_array() returns from its caller on failure, so it gets a caller
   of its own.  Returns 0, or -1 with ImportError set. */
static int
import_numpy(void)
{
    import_array1(-1);
    return 0;
}

PyMODINIT_FUNC
PyInit_dozudiror(void)
{
    PyObject *m = PyModule_Create(&dozudiror_module_def);
    if (m == NULL) {
        return NULL;
    }
    if (import_numpy() < 0) {
        Py_DECREF(m);
        return NULL;
    }
    kernels_init();
    if (add_widths(m) < 0) {
        Py_DECREF(m);
        return NULL;
    }
    pystr_a = PyUnicode_InternFromString("a");
    pystr_old = PyUnicode_InternFromString("old");
    pystr_new = PyUnicode_InternFromString("new");
    if (pystr_a == NULL || pystr_old == NULL || pystr_new == NULL) {
        Py_DECREF(m);
        return NULL;
    }
    return m;
}
