#include "Surface.h"

#include <algorithm>

#include <QPainter>

namespace pixquill {

Surface::Surface(int width, int height, QColor backColor)
    : m_width(std::max(0, width))
    , m_height(std::max(0, height))
    , m_backColor(std::move(backColor))
{
    RebuildImage();
}

void Surface::SetWidth(int width)
{
    Resize(width, m_height);
}

void Surface::SetHeight(int height)
{
    Resize(m_width, height);
}

void Surface::Resize(int width, int height)
{
    width = std::max(0, width);
    height = std::max(0, height);
    if (width == m_width && height == m_height)
        return;
    m_width = width;
    m_height = height;
    RebuildImage();
    if (m_onResize)
        m_onResize(m_width, m_height);
}

bool Surface::AdoptImage(QImage image)
{
    if (image.isNull() || image.format() != QImage::Format_RGB32)
        return false;
    const int width = image.width() + 2 * m_border;
    const int height = image.height() + 2 * m_border;
    const bool resized = width != m_width || height != m_height;
    m_width = width;
    m_height = height;
    m_image = std::move(image);
    if (resized && m_onResize)
        m_onResize(m_width, m_height);
    return true;
}

void Surface::ResizeForOverwrite(int width, int height)
{
    width = std::max(0, width);
    height = std::max(0, height);
    const bool changed = width != m_width || height != m_height;
    m_width = width;
    m_height = height;
    const int innerWidth = std::max(0, m_width - 2 * m_border);
    const int innerHeight = std::max(0, m_height - 2 * m_border);
    if (m_image.isNull() || m_image.width() != innerWidth || m_image.height() != innerHeight
        || !m_image.isDetached()) {
        m_image = QImage();
        if (innerWidth > 0 && innerHeight > 0)
            m_image = QImage(innerWidth, innerHeight, QImage::Format_RGB32);
    }
    if (changed && m_onResize)
        m_onResize(m_width, m_height);
}

void Surface::SetBorderWidth(int border)
{
    border = std::max(0, border);
    if (border == m_border)
        return;
    m_border = border;
    RebuildImage();
}

void Surface::SetPicture(const QImage& picture)
{
    m_picture = picture;
    if (m_autoSize && !m_picture.isNull())
        Resize(m_picture.width() + 2 * m_border, m_picture.height() + 2 * m_border);
}

void Surface::SetBackColor(const QColor& color)
{
    m_backColor = color;
    // As with a picture box: a new back colour wipes the drawing.
    Cls();
}

void Surface::Cls()
{
    if (m_image.isNull())
        return;
    m_image.fill(m_backColor);
    if (!m_picture.isNull()) {
        QPainter painter(&m_image);
        painter.drawImage(0, 0, m_picture);
    }
}

void Surface::Refresh()
{
    if (m_onRefresh)
        m_onRefresh();
}

void Surface::RebuildImage()
{
    const int innerWidth = std::max(0, m_width - 2 * m_border);
    const int innerHeight = std::max(0, m_height - 2 * m_border);
    if (!m_image.isNull() && m_image.width() == innerWidth && m_image.height() == innerHeight)
        return;
    if (innerWidth == 0 || innerHeight == 0) {
        m_image = QImage();
        return;
    }
    QImage resized(innerWidth, innerHeight, QImage::Format_RGB32);
    resized.fill(m_backColor);
    if (!m_image.isNull()) {
        QPainter painter(&resized);
        painter.drawImage(0, 0, m_image);
    }
    m_image = std::move(resized);
}

} // namespace pixquill
