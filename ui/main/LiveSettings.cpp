#include "LiveSettings.h"

#include <QComboBox>
#include <QLineEdit>

#include "ui/main/fMain.h"

namespace pixquill {

void LiveSettings::SetSourceFolder(const QString& folder)
{
    m_sourceFolder = folder;
    Refresh();
}

void LiveSettings::Refresh()
{
    JobSettings settings;
    settings.SourceFolder = m_sourceFolder;
    settings.DestinationFolder = m_window.txtThumbDir()->text();
    settings.Prefix = m_window.txtSuffix()->text();
    settings.WidthText = m_window.Textwid()->text();
    settings.HeightText = m_window.Texthgt()->text();
    settings.ResizeMode = m_window.ComboResizeMethod()->currentIndex();
    settings.ResampleFilter = m_window.ResampleFilter();
    settings.OutputFormat = m_window.ComboOutputFormat()->currentIndex();
    m_snapshot->Set(settings);
}

} // namespace pixquill
