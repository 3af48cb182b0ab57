#pragma once

// The counter box under the progress bar is 140 pixels wide, laid out for
// "Processing i of n"; the completion, stopped and destination captions are
// longer. FitCaption finds a form of a caption that the box shows whole.

#include <QFont>
#include <QSize>
#include <QString>

namespace pixquill {

struct FittedCaption {
    QString Text; // the caption, with a line break where it takes two lines
    QFont Font;
    bool Shortened = false; // elided: the box shows less than the caption
};

// The caption in the box's inner size: on one line at the box's font when it
// fits; else on one line at a smaller size, down to a readable least size;
// else on two lines, broken before "(" when it has one, else at the space
// that balances the lines best, at the largest size whose two lines fit;
// else elided on one line at the least size.
FittedCaption FitCaption(const QString& caption, const QFont& font, QSize box);

} // namespace pixquill
