#include "shell/TSystray.h"

#include <QApplication>
#include <QCursor>
#include <QMenu>
#include <QWidget>

TSystray::TSystray(QObject* owner) : QObject(owner), trayIcon(new QSystemTrayIcon(this)) {
    onDblClick = restoreApplication;
    onRightClick = popUpMenu;
    connect(trayIcon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) { iconCallback(reason); });
}

TSystray::~TSystray() {
    removeIcon();
}

void TSystray::setEnabled(bool value) {
    isEnabled = value;
    if (!value) {
        removeIcon();
        return;
    }
    if (!isShown)
        showIcon();
}

void TSystray::setIcon(const QIcon& value) {
    ownIcon = value;
    if (isShown && isEnabled)
        refreshIcon();
}

void TSystray::setHint(const QString& value) {
    QString text = value;
    if (text.size() > maxHint) {
        int cut = maxHint;
        if (text.at(cut - 1).isHighSurrogate())
            --cut;
        text.truncate(cut);
    }
    if (text == hintText)
        return;
    hintText = text;
    if (isShown && isEnabled)
        refreshIcon();
}

void TSystray::showMessage(const QString& title, const QString& text) {
    messageText = text;
    if (isShown && isEnabled && QSystemTrayIcon::supportsMessages())
        trayIcon->showMessage(title, text, ownIcon.isNull() ? QApplication::windowIcon() : ownIcon,
                              10000);
}

void TSystray::setPopupMenu(QMenu* value) {
    // QPointer forgets a menu that is destroyed before us.
    menu = value;
}

QString TSystray::shownTooltip() const {
    return trayIcon->toolTip();
}

QIcon TSystray::shownIcon() const {
    return trayIcon->icon();
}

void TSystray::iconCallback(QSystemTrayIcon::ActivationReason reason) {
    if (!isEnabled)
        return;
    const Event* event = nullptr;
    switch (reason) {
    case QSystemTrayIcon::Trigger:
        event = &onLeftClick;
        break;
    case QSystemTrayIcon::DoubleClick:
        event = &onDblClick;
        break;
    case QSystemTrayIcon::Context:
        event = &onRightClick;
        break;
    default:
        return;
    }
    if (*event)
        (*event)(this);
}

void TSystray::showIcon() {
    refreshIcon();
    trayIcon->show();
    isShown = true;
}

void TSystray::refreshIcon() {
    trayIcon->setIcon(ownIcon.isNull() ? QApplication::windowIcon() : ownIcon);
    trayIcon->setToolTip(hintText);
}

void TSystray::removeIcon() {
    if (!isShown)
        return;
    trayIcon->hide();
    isShown = false;
}

void TSystray::restoreApplication(TSystray* sender) {
    // The owner is the application's main window.
    auto* main = qobject_cast<QWidget*>(sender->parent());
    if (!main)
        return;
    main->setWindowState(main->windowState() & ~Qt::WindowMinimized);
    main->show();
    main->raise();
    main->activateWindow();
}

void TSystray::popUpMenu(TSystray* sender) {
    if (!sender->menu)
        return;
    sender->menu->popup(QCursor::pos());
}
