#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>

#include <QImage>
#include <QPoint>
#include <QPointer>
#include <QString>
#include <QWidget>

#include "codec/Surface.h"
#include "engine/BatchEngine.h"
#include "engine/WorkerProcess.h"
#include "ui/about/fAbout.h"
#include "ui/main/ImagePreview.h"
#include "ui/main/PreviewLoader.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

namespace pixquill {

class BatchThread;
class FileListBox;
class LiveSettings;
class PictureButton;
class Rv_Progbar;
class SurfaceWidget;

// The main window: borderless, skinned, 713 x 449, with its own title-bar
// buttons (about, minimise, close), dragged by its background and by the logo
// label. Construction runs the load handler: caption, logo label, the four
// option lists filled and their default rows selected, so the file mask, the
// size boxes and ResampleFilter are in their start-up state before the window
// first shows. Owns the about window (and later the full-screen view): they
// stay above it, hide while it is minimised and close with it.
// Deletes itself when closed. GUI thread only.
class fMain : public QWidget {
    Q_OBJECT
public:
    static constexpr int kClientWidth = 713;
    static constexpr int kClientHeight = 449;

    explicit fMain(QWidget* parent = nullptr);
    ~fMain() override;

    // Controls, under the names the rest of the program uses.
    QLabel* imBanner() const { return m_imBanner; }
    PictureButton* btnForm(int index) const;
    QLabel* Image1(int index) const;
    QGroupBox* fraPaths() const { return m_fraPaths; }
    QGroupBox* fraOutputOptions() const { return m_fraOutputOptions; }
    QGroupBox* fraSelect() const { return m_fraSelect; }
    PictureButton* cmdAction(int index) const;
    QLabel* lblLogo() const { return m_lblLogo; }
    QLabel* Label1() const { return m_Label1; }
    QLabel* Label2() const { return m_Label2; }
    QLabel* Labelhgt() const { return m_Labelhgt; }
    QLineEdit* txtImgDir() const { return m_txtImgDir; }
    QPushButton* cmdBrowseImg() const { return m_cmdBrowseImg; }
    QLineEdit* txtThumbDir() const { return m_txtThumbDir; }
    QPushButton* cmdBrowseThumb() const { return m_cmdBrowseThumb; }
    QComboBox* ComboFilter() const { return m_ComboFilter; }
    QLineEdit* Textwid() const { return m_Textwid; }
    QLineEdit* Texthgt() const { return m_Texthgt; }
    QComboBox* ComboOutputFormat() const { return m_ComboOutputFormat; }
    QComboBox* ComboResizeMethod() const { return m_ComboResizeMethod; }
    QLineEdit* txtSuffix() const { return m_txtSuffix; }
    QLabel* lblCount() const { return m_lblCount; }
    QComboBox* comboResampleMethod() const { return m_comboResampleMethod; }
    Rv_Progbar* thProg() const { return m_thProg; }
    QPushButton* cmdselect(int index) const;
    FileListBox* fbImages() const { return m_fbImages; }
    QGroupBox* fraPreview() const { return m_fraPreview; }
    SurfaceWidget* ImgPreview() const { return m_ImgPreview; }
    QCheckBox* chkPreview() const { return m_chkPreview; }
    QGroupBox* fraInfo() const { return m_fraInfo; }
    QLabel* lblImageSize() const { return m_lblImageSize; }
    QLabel* lblImageFileSize() const { return m_lblImageFileSize; }

    // Hidden drawing surfaces: the load surface (sizes itself to its
    // picture) and the thumbnail surface.
    Surface& PicLoad() { return m_PicLoad; }
    Surface& picThumb() { return m_picThumb; }

    // Filter code of the resample filter list (6: the area-averaging stretch).
    std::int32_t ResampleFilter() const { return m_ResampleFilter; }

    // The batch run behind Start and Stop, on a thread of its own; the
    // window only shows what it commits.
    BatchThread& Batch() { return *m_run; }
    // The images the run in progress (or the last one) has committed, in
    // list order.
    const std::vector<ImageResult>& BatchResults() const { return m_results; }
    // Stop was pressed and the run has not ended yet.
    bool StopRequested() const;
    // Wraps how the run's threads make each image (tests hold images there).
    void SetImageMakerWrapper(std::function<ImageMaker(ImageMaker)> wrapper) { m_makerWrapper = std::move(wrapper); }

    // Left edges of the re-centred logo label and banner as computed (they
    // may be fractional; the widgets sit at the rounded value).
    double LogoLeft() const { return m_logoLeft; }
    double BannerLeft() const { return m_bannerLeft; }

    // The about window while it is open.
    fAbout* AboutWindow() const { return m_about; }

    // What decodes a file to preview without a decode worker:
    // LoadImageToSurface unless replaced (tests count the loads through it).
    // It runs on the preview's own thread, with a surface of that thread.
    void SetImageLoader(ImageLoader loader);

    // Decodes in worker processes from now on: every batch image is loaded,
    // rendered and saved in one of the run's workers (as pixquill-batch
    // does; from the next Start), and every file to preview is decoded in
    // another, whose picture the window only draws, so a file that crashes
    // or hangs the decoder costs a failed image or preview, not the window.
    // An empty command goes back to decoding in this process (the default),
    // the run and the previews still off the window's thread.
    void SetDecodeWorker(const WorkerCommand& command);

    // A preview was asked for and its picture is not shown yet.
    bool PreviewPending() const;
    // The newest preview's drawing is in the box, perhaps from its glance
    // while the picture itself is still on its way.
    bool PreviewDrawn() const;

    // Shows a caption in the counter lblCount: whole, at a smaller size or on
    // two lines where it must be (never clipped silently), with the caption
    // and the run's files not written, each with its reason, in its tooltip.
    // The batch's captions come through here.
    void ShowCountCaption(const QString& caption);

public slots:
    // Title-bar buttons: 0 about, 1 minimise, 2 close; other indices nothing.
    void btnForm_Click(int index);

    // Start (0) and Stop (1); other indices do nothing.
    void cmdAction_Click(int index);
    // Folder buttons.
    void cmdBrowseImg_Click();
    void cmdBrowseThumb_Click();
    // Select All (0) and Clear (1) of the file list.
    void cmdselect_Click(int index);
    // A click in the file list: a preview of the focused row.
    void fbImages_Click();
    // A double click on the preview: the full-screen view.
    void ImgPreview_DblClick();

signals:
    // Raised after image i of n is committed, before the progress bar and
    // the counter show it (tests press Stop or change settings from here).
    void BatchImageDone(int i, int n);
    // Raised once a run has ended and the window shows its last caption.
    void BatchEnded();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateControls();
    void SetTabOrder();
    void Form_Load();
    void Form_Resize();
    void ComboFilter_Click();
    void ComboOutputFormat_Click();
    void ComboResizeMethod_Click();
    void comboResampleMethod_Click();
    void Label1_Click();
    void txtImgDir_Change();
    void txtThumbDir_Enter();
    void BatchStart();
    void BatchImageCommitted(const ImageResult& result, int done, int total);
    void BatchFinished(const BatchReport& report);
    void PreviewReady(const PreviewReply& reply);
    void imBanner_Click();
    // Starts moving the window with the pointer from a press at globalPos.
    void BeginDrag(const QPoint& globalPos);
    // Windows this one owns (about, full-screen view) that exist now.
    QList<QWidget*> OwnedWindows() const;

    QImage m_skin;

    QLabel* m_imBanner = nullptr;
    std::array<PictureButton*, 3> m_btnForm{};
    std::array<QLabel*, 4> m_Image1{};
    QGroupBox* m_fraPaths = nullptr;
    QGroupBox* m_fraOutputOptions = nullptr;
    QGroupBox* m_fraSelect = nullptr;
    std::array<PictureButton*, 2> m_cmdAction{};
    QLabel* m_lblLogo = nullptr;
    QLabel* m_Label3 = nullptr;
    QLineEdit* m_txtImgDir = nullptr;
    QPushButton* m_cmdBrowseImg = nullptr;
    QLabel* m_Label5 = nullptr;
    QLineEdit* m_txtThumbDir = nullptr;
    QPushButton* m_cmdBrowseThumb = nullptr;
    QLabel* m_Label1 = nullptr;
    QComboBox* m_ComboFilter = nullptr;
    QLabel* m_Label2 = nullptr;
    QLabel* m_Labelhgt = nullptr;
    QLabel* m_Labelfrmt = nullptr;
    QLineEdit* m_Textwid = nullptr;
    QLineEdit* m_Texthgt = nullptr;
    QComboBox* m_ComboOutputFormat = nullptr;
    QLabel* m_LabelResizeMethod = nullptr;
    QLabel* m_Label4 = nullptr;
    QComboBox* m_ComboResizeMethod = nullptr;
    QLineEdit* m_txtSuffix = nullptr;
    QLabel* m_lblProgress = nullptr;
    QLabel* m_lblResamplemethod = nullptr;
    QLabel* m_lblCount = nullptr;
    QComboBox* m_comboResampleMethod = nullptr;
    Rv_Progbar* m_thProg = nullptr;
    std::array<QPushButton*, 2> m_cmdselect{};
    FileListBox* m_fbImages = nullptr;
    QGroupBox* m_fraPreview = nullptr;
    SurfaceWidget* m_ImgPreview = nullptr;
    QCheckBox* m_chkPreview = nullptr;
    QGroupBox* m_fraInfo = nullptr;
    QLabel* m_lblImageSize = nullptr;
    QLabel* m_lblImageFileSize = nullptr;

    Surface m_picThumb;
    Surface m_PicLoad;

    std::int32_t m_ResampleFilter = 0;
    // Decodes the previews on a thread of its own; newest request wins.
    PreviewLoader* m_previewLoader = nullptr;
    // Shows the busy cue when a preview takes longer than a glance.
    QTimer* m_previewBusy = nullptr;
    // The last preview could not be read: no full-screen view of what
    // PicLoad still holds from before.
    bool m_previewFailed = false;
    // The preview shows a drawing from a glance; the picture is on its way.
    bool m_previewEarly = false;
    std::unique_ptr<LiveSettings> m_liveSettings;
    // The run's decode workers (none: the run decodes on its own threads).
    WorkerCommand m_workerCommand;
    std::function<ImageMaker(ImageMaker)> m_makerWrapper;
    BatchThread* m_run = nullptr;
    // What the run in progress (or the last one) committed so far.
    std::vector<ImageResult> m_results;
    BatchTally m_tally;
    int m_shownDone = 0; // the newest image the bar and counter show
    bool m_stopPressed = false;
    // The files of this run not written, with their reasons, one a line.
    QString m_failureReport;
    // What of the decode workers' lock-down did not hold, as the last run's
    // workers said (BatchReport::SandboxNote); kept for the caption's tooltip.
    QString m_sandboxNote;

    double m_logoLeft = 0.0;
    double m_bannerLeft = 0.0;

    QPointer<fAbout> m_about;
    // Owned windows hidden by minimising, shown again on restore.
    QList<QPointer<QWidget>> m_hiddenByMinimise;

    // Moving the window ourselves where the window system cannot.
    bool m_manualDrag = false;
    QPoint m_dragOffset;
    // A press on Label1 or the banner that may become a click.
    QObject* m_pressedOn = nullptr;
};

} // namespace pixquill
