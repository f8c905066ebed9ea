/*
 * replace_many's work on its olds and news, for its entry point and the
 * width hook.
 */
#ifndef FENNICK_MODULE_MANY_CALL_H
#define FENNICK_MODULE_MANY_CALL_H

#include "../numpy_api.h"
#include "../kernels/walk.h"

/* How many scalars `items` holds: a tuple's size, or the length of a 1-d
   array of bools, integers or floats of up to 8 bytes; -1 for anything
   else. */
Py_ssize_t many_count(PyObject *items);

/* Replaces olds[i] by news[pairwise ? i : 0] in `arr` (borrowed; the
   caller holds a reference), an array the loops route, with the walks
   of `table`; `olds` and `news` are items many_count counts, in matching
   numbers.  Returns `arr` with a new reference, Py_NotImplemented (a new
   reference) when a conversion changed the array into one the loops do not
   serve, or NULL with an exception set. */
PyObject *replace_many_with_table(PyArrayObject *arr, PyObject *olds,
                                  PyObject *news, bool pairwise,
                                  const WalkTable *table);

/* The same, into a new array equal to `arr` copied in its memory order
   (`arr` is only read, and may be read-only), in one pass where one old or
   a few are compared a vector at a time.  Returns the new array,
   Py_NotImplemented (a new reference) for more olds or when a conversion
   changed the array into one the loops do not serve, or NULL with an
   exception set before anything was allocated. */
PyObject *replaced_many_with_table(PyArrayObject *arr, PyObject *olds,
                                   PyObject *news, bool pairwise,
                                   const WalkTable *table);

/* Checks the (a, olds, news, pairwise) of the entry point `name`: olds and
   news that many_count counts, in matching numbers.  Sets *pairwise.
   Returns 0, or -1 with an exception set. */
int many_arguments(PyObject *const *args, Py_ssize_t nargs, const char *name,
                   bool *pairwise);

#endif /* FENNICK_MODULE_MANY_CALL_H */
