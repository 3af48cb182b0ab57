#pragma once

#include <QGroupBox>

namespace pixquill {

// A frame of the main window: an etched rectangle whose top line runs
// through the middle of the caption, the caption (if any) at the left on
// the frame's own background. Children are placed by absolute positions
// from the frame's outer top-left corner.
class FrameBox : public QGroupBox {
    Q_OBJECT
public:
    explicit FrameBox(const QString& caption, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace pixquill
