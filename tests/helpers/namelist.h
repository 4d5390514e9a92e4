#pragma once

#include <QList>
#include <QStringList>

// The `name` of every item of a list, in list order, for compact comparisons.
template<typename Named> QStringList namesOf(const QList<Named> &items)
{
    QStringList names;
    for (const Named &item : items)
        names << item.name;
    return names;
}
