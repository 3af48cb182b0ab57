#pragma once

#include <QMap>
#include <QString>
#include <QStringList>
#include <QVariant>

namespace pixquill {

// The saved property set of one control in a window layout: key -> value,
// tagged with the control's class identifier ("Pixquill.PictureButton", ...).
// Controls follow one convention with it:
//   InitProperties()              a new instance takes its defaults;
//   ReadProperties(const bag&)    a loaded one reads every key with its default;
//   WriteProperties(bag&) const   saving writes every key with its default, and
//                                 a value equal to its default is not stored.
class PropertyBag {
public:
    PropertyBag() = default;
    explicit PropertyBag(QString classId) : m_classId(std::move(classId)) {}

    const QString& ClassId() const { return m_classId; }
    void SetClassId(const QString& classId) { m_classId = classId; }

    QVariant ReadProperty(const QString& key, const QVariant& defaultValue) const
    {
        return m_values.value(key, defaultValue);
    }

    // A value equal to its default is not written (and a stale one is dropped).
    void WriteProperty(const QString& key, const QVariant& value, const QVariant& defaultValue)
    {
        if (value == defaultValue)
            m_values.remove(key);
        else
            m_values.insert(key, value);
    }

    QStringList Keys() const { return m_values.keys(); }
    const QMap<QString, QVariant>& Values() const { return m_values; }

private:
    QString m_classId;
    QMap<QString, QVariant> m_values;
};

} // namespace pixquill
