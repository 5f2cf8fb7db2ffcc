#pragma once

// Helpers shared by the device search page tests.
#include "discovery/devsereachpage.h"

#include <QAction>
#include <QMenu>
#include <QStringList>
#include <QTreeWidget>

// Opens the context menu on a row and picks the action with the text
// `choice` (none when empty); returns the texts the menu offered.
inline QStringList chooseFromMenu(DevSereachPage& page, QTreeWidgetItem* item,
                                  const QString& choice = QString())
{
    QStringList texts;
    page.setMenuRunner([&](QMenu& menu) -> QAction* {
        QAction* chosen = nullptr;
        for (QAction* action : menu.actions()) {
            texts << action->text();
            if (action->text() == choice)
                chosen = action;
        }
        return chosen;
    });
    QTreeWidget* tree = page.form()->treeWidget;
    tree->scrollToItem(item);
    page.onCustomContextMenuRequested(tree->visualItemRect(item).center());
    return texts;
}
