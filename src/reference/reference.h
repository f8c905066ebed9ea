/*
 * Delegation of a call to the package's reference module, fennick.slow.
 */
#ifndef FENNICK_REFERENCE_REFERENCE_H
#define FENNICK_REFERENCE_REFERENCE_H

#define PY_SSIZE_T_CLEAN
#include <Python.h>

/* Calls fennick.slow.<name>(*args, **kwargs); args and kwargs are borrowed
   (kwargs may be NULL).  Returns the call's result (a new reference), or
   NULL with an exception set. */
PyObject *call_reference(const char *name, PyObject *args, PyObject *kwargs);

#endif /* FENNICK_REFERENCE_REFERENCE_H */
