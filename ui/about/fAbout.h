#pragma once

#include <QString>
#include <QWidget>

class QLabel;
class QToolButton;

namespace pixquill {

class SurfaceWidget;

// The about and help window: the title on a blue logo, a heading, the help
// text that walks through the numbered steps of the main window, and a button
// that opens the maker's web page. Owned by the main window (pass it as
// owner): it stays above the owner, is not listed in the task bar and is
// destroyed when closed. GUI thread only.
class fAbout : public QWidget {
    Q_OBJECT
public:
    explicit fAbout(QWidget* owner);

    // The help text exactly as it is kept: carriage returns (code 13) mark
    // the line breaks. The label shows each one as a new line.
    static QString HelpText();

    // Places the window centred over its owner (or the screen without one).
    void CentreOverOwner();

    SurfaceWidget* picLogo() const { return m_picLogo; }
    QLabel* lblHeader() const { return m_lblHeader; }
    QLabel* lblAbout() const { return m_lblAbout; }
    QToolButton* cmdVisit() const { return m_cmdVisit; }

protected:
    void showEvent(QShowEvent* event) override;

private slots:
    void cmdVisit_Click();

private:
    void Form_Load();

    SurfaceWidget* m_picLogo = nullptr;
    QLabel* m_lblHeader = nullptr;
    QLabel* m_lblAbout = nullptr;
    QToolButton* m_cmdVisit = nullptr;
    bool m_placedWithFrame = false;
};

} // namespace pixquill
