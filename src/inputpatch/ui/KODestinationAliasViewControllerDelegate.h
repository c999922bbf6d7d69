#pragma once

#include <QString>

// Told what the alias popover's buttons ask for. Every operation may be left as it is.
class KODestinationAliasViewControllerDelegate {
public:
    virtual ~KODestinationAliasViewControllerDelegate() = default;

    virtual void didEnterAlias(const QString& /*alias*/) {}
    virtual void enterAliasAndOpenNext(const QString& /*alias*/) {}
    virtual void removeAliasWindow() {}
};
