"""Result codes of the KP_DEV functions and their texts (the same texts as
kp_dev_result_text in kp_dev.h)."""

OK = 0

TEXTS = {
    0: "success",
}


def result_text(code):
    """An English text for a result code."""
    return TEXTS.get(code, "unknown result %d" % code)


class KpDevError(Exception):
    """A library function returned a failure: .code, .text and .function."""

    def __init__(self, function, code):
        self.function = function
        self.code = code
        self.text = result_text(code)
        super().__init__("%s: %d (%s)" % (function, code, self.text))
