#pragma once
// Whether a label shows all of its text: a message cut at the box's edge
// reads as a different message, so the boxes and the screenshot tour check
// their labels with this.
#include <QString>

class QLabel;

namespace kestrel {

// True when every line of the label's plain text, wrapped as the label
// wraps it at its present width, fits that width, and all the lines fit the
// label's height. Otherwise false, and `problem` (when given) says what is
// cut: the first line that is too wide, or how many lines do not fit.
bool labelShowsWholeText(const QLabel& label, QString* problem = nullptr);

}  // namespace kestrel
