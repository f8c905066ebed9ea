/*
 * What the module definition needs from the replace entry point, and the
 * interned keyword names that initialisation fills and parsing reads.
 */
#ifndef FENNICK_MODULE_ENTRY_H
#define FENNICK_MODULE_ENTRY_H

#define PY_SSIZE_T_CLEAN
#include <Python.h>

extern "C" {
/* Interned "a", "old", "new": set once at init, never released. */
extern PyObject *pystr_a;
extern PyObject *pystr_old;
extern PyObject *pystr_new;
}

/* The "replace" method: borrows args and kwargs (kwargs may be NULL).
   Returns a new reference, or NULL with an exception set. */
PyObject *replace_entry(PyObject *self, PyObject *args, PyObject *kwargs);

/* The "_replace_many" method (fast call): borrows its arguments.  Returns a
   new reference, or NULL with an exception set. */
PyObject *replace_many_entry(PyObject *self, PyObject *const *args,
                             Py_ssize_t nargs);

/* The "_replaced" method (fast call): borrows its arguments.  Returns a
   new array, NotImplemented for an array it leaves to the caller, or NULL
   with an exception set. */
PyObject *replaced_entry(PyObject *self, PyObject *const *args,
                         Py_ssize_t nargs);

#endif /* FENNICK_MODULE_ENTRY_H */
