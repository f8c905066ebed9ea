"""How replace(a, old, new) takes its arguments, and every message for a
malformed call."""

import numpy as np
import pytest

from conftest import raises_msg
from fennick.dozudiror import replace


def sample():
    return np.array([0.0, 1.0, 0.0, 2.0])


AFTER = np.array([3.0, 1.0, 3.0, 2.0])

VALID_CALLS = {
    "positional": lambda x: replace(x, 0, 3),
    "new-keyword": lambda x: replace(x, 0, new=3),
    "old-new-keywords": lambda x: replace(x, old=0, new=3),
    "all-keywords": lambda x: replace(a=x, old=0, new=3),
    "keywords-any-order": lambda x: replace(new=3, a=x, old=0),
    "empty-kwargs": lambda x: replace(x, 0, 3, **{}),
    "unpacked": lambda x: replace(*(x, 0), **{"new": 3}),
}


@pytest.mark.parametrize("call", VALID_CALLS.values(), ids=VALID_CALLS)
def test_every_argument_form_parses_the_same(call):
    x = sample()
    assert call(x) is x
    np.testing.assert_array_equal(x, AFTER)


# One group per message; every call in a group must raise exactly it.
BAD_CALLS = {
    "wrong number of arguments 4": [
        lambda x: replace(),
        lambda x: replace(x),
        lambda x: replace(x, 0),
        lambda x: replace(x, 0, 3, 4),
        lambda x: replace(x, 0, **{}),
        lambda x: replace(x, 0, 3, 4, **{}),
        lambda x: replace([1, 2], 0),
    ],
    "wrong number of arguments 1": [
        lambda x: replace(x, 0, 3, new=3),
        lambda x: replace(x, 0, 3, extra=1),
        lambda x: replace(x, 0, 3, 4, a=x),
        lambda x: replace([1, 2], 0, 3, new=3),
    ],
    "Cannot find `a` keyword input": [
        lambda x: replace(old=0, new=3),
        lambda x: replace(b=x, old=0, new=3),
        lambda x: replace(extra=1),
    ],
    "Cannot find `old` keyword input": [
        lambda x: replace(x, new=3),
        lambda x: replace(x, extra=1),
        lambda x: replace(x, a=x, new=3),
        lambda x: replace(a=x, new=3, extra=1),
    ],
    "Cannot find `new` keyword input": [
        lambda x: replace(x, old=0),
        lambda x: replace(x, 0, old=0),
        lambda x: replace(x, 0, extra=1),
        lambda x: replace(a=x, old=0),
        lambda x: replace([1, 2], old=0),
    ],
    "wrong number of keyword arguments 3": [
        lambda x: replace(x, 0, new=3, extra=1),
        lambda x: replace(x, 0, new=3, a=x),
        lambda x: replace(x, old=0, new=3, a=x),
        lambda x: replace(x, old=0, new=3, extra=1),
        lambda x: replace(a=x, old=0, new=3, extra=1),
        lambda x: replace([1, 2], old=0, new=3, extra=1),
    ],
}


@pytest.mark.parametrize("message", BAD_CALLS)
def test_malformed_call_message(message):
    for call in BAD_CALLS[message]:
        x = sample()
        with raises_msg(TypeError, message):
            call(x)
        np.testing.assert_array_equal(x, sample())


def test_argument_errors_come_before_the_array_test():
    # Neither a list nor a string is an array, yet the malformed call is
    # what gets reported.
    with raises_msg(TypeError, "wrong number of arguments 4"):
        replace("not an array", 0)
    with raises_msg(TypeError, "Cannot find `new` keyword input"):
        replace(a=[1, 2], old=0)


def test_keywords_other_than_parameters_are_rejected_not_ignored():
    x = sample()
    with raises_msg(TypeError, "wrong number of keyword arguments 3"):
        replace(a=x, old=0, new=3, New=4)
    np.testing.assert_array_equal(x, sample())
