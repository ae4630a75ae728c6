#pragma once

#include <QCoreApplication>
#include <QPointer>
#include <QStyle>

// The one instance of a per-widget style `Style` for the whole application,
// made on first use and owned by the application object: a style must
// outlive every widget that uses it, and widgets may go in any order.
template <typename Style> QStyle *sharedStyle()
{
    static QPointer<Style> shared;
    if (!shared) {
        shared = new Style;
        shared->setParent(QCoreApplication::instance());
    }
    return shared;
}
