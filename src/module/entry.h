/*
 * What the module definition needs from the entry points, and the
 * interned keyword names that initialisation fills and parsing reads.
 * Every method borrows its arguments and returns a new reference, or NULL
 * with an exception set.
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

/* The "_replaced_many" method (fast call): borrows its arguments.  Returns
   a new array, NotImplemented for an array or a number of olds it leaves
   to the caller, or NULL with an exception set. */
PyObject *replaced_many_entry(PyObject *self, PyObject *const *args,
                              Py_ssize_t nargs);

/* The private methods of the width hook (fast call) and its attributes,
   which add_widths sets on `m` (0, or -1 with an exception set): _widths,
   the builds this processor runs, widest first; _width, the one chosen;
   _width_isas, the instructions each build needs ("baseline", "avx2",
   "avx512"), which order them by width. */
PyObject *replace_with_entry(PyObject *self, PyObject *const *args,
                             Py_ssize_t nargs);
PyObject *replaced_with_entry(PyObject *self, PyObject *const *args,
                              Py_ssize_t nargs);
PyObject *replaced_many_with_entry(PyObject *self, PyObject *const *args,
                                   Py_ssize_t nargs);
PyObject *replace_many_with_entry(PyObject *self, PyObject *const *args,
                                  Py_ssize_t nargs);
int add_widths(PyObject *m);

/* The private methods on fennick.slow's, fennick.parallel's and
   fennick.dask's behalf (fast call): _replace_numeric, _settle and
   _settle_many. */
PyObject *numeric_replace_entry(PyObject *self, PyObject *const *args,
                                Py_ssize_t nargs);
PyObject *settle_entry(PyObject *self, PyObject *const *args,
                       Py_ssize_t nargs);
PyObject *settle_many_entry(PyObject *self, PyObject *const *args,
                            Py_ssize_t nargs);

struct WalkTable;

/* Replaces `old` by `new` in `a` with the walks of `table`, when `a` is an
   array the loops route.  Returns `a` with a new reference,
   Py_NotImplemented (a new reference) for any other `a`, or NULL with an
   exception set. */
PyObject *numeric_replace(const WalkTable *table, PyObject *a, PyObject *old,
                          PyObject *new_);

/* _replaced's work, (a, old, new[, into]) in `args`, with the copying walks
   of `table`. */
PyObject *replaced_call(const WalkTable *table, PyObject *const *args,
                        Py_ssize_t nargs);

/* _replaced_many's work, (a, olds, news, pairwise) in `args`, with the
   copying walks of `table`. */
PyObject *replaced_many_call(const WalkTable *table, PyObject *const *args,
                             Py_ssize_t nargs);

#endif /* FENNICK_MODULE_ENTRY_H */
