#include "base/globalvalues.h"

QHash<QString, QVariant> &GlobalValues::table()
{
    static QHash<QString, QVariant> values;
    return values;
}

QVariant GlobalValues::value(const QString &key, const QVariant &defaultValue)
{
    return table().value(key, defaultValue);
}

void GlobalValues::setValue(const QString &key, const QVariant &value)
{
    table().insert(key, value);
}

void GlobalValues::remove(const QString &key)
{
    table().remove(key);
}

bool GlobalValues::contains(const QString &key)
{
    return table().contains(key);
}

void GlobalValues::clear()
{
    table().clear();
}
