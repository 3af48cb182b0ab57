#pragma once

#include <QDesktopServices>
#include <QList>
#include <QObject>
#include <QUrl>

namespace pixquill {

// Takes over the opening of web and file addresses while it lives, so that
// tests see what would have been opened and no browser starts.
class UrlRecorder : public QObject {
    Q_OBJECT
public:
    UrlRecorder()
    {
        for (const char* scheme : {"http", "https", "file"})
            QDesktopServices::setUrlHandler(QLatin1String(scheme), this, "Open");
    }
    ~UrlRecorder() override
    {
        for (const char* scheme : {"http", "https", "file"})
            QDesktopServices::unsetUrlHandler(QLatin1String(scheme));
    }

    const QList<QUrl>& Opened() const { return m_opened; }

public slots:
    void Open(const QUrl& url) { m_opened.append(url); }

private:
    QList<QUrl> m_opened;
};

} // namespace pixquill
