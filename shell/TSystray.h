#pragma once

#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QSystemTrayIcon>

#include <functional>

class QMenu;

// The icon in the notification area. Enabled shows (true) or removes (false) the icon
// and lets it react to the mouse; the icon is refreshed only while shown and enabled.
// Events take the sender; an event without a handler does nothing.
class TSystray : public QObject {
public:
    using Event = std::function<void(TSystray*)>;

    explicit TSystray(QObject* owner = nullptr);
    ~TSystray() override;

    bool enabled() const { return isEnabled; }
    void setEnabled(bool value);
    QIcon icon() const { return ownIcon; }
    // An icon without an image shows the application's icon.
    void setIcon(const QIcon& value);
    QString hint() const { return hintText; }
    // At most maxHint characters are kept (never half a character).
    void setHint(const QString& value);
    QMenu* popupMenu() const { return menu; }
    // A message beside the icon (where the desktop shows such messages) for a few
    // seconds; the last one is kept for whoever asks.
    void showMessage(const QString& title, const QString& text);
    QString lastMessage() const { return messageText; }
    void setPopupMenu(QMenu* value);

    Event onDblClick; // default: restores and shows the application's main window
    Event onLeftClick;
    Event onRightClick; // default: pops up the menu at the cursor

    bool shown() const { return isShown; }
    // What the shell shows: the tooltip and the image in use.
    QString shownTooltip() const;
    QIcon shownIcon() const;

    // One mouse event of the icon; ignored while not enabled.
    void iconCallback(QSystemTrayIcon::ActivationReason reason);

    static constexpr int maxHint = 127;

private:
    void showIcon();
    void refreshIcon();
    void removeIcon();
    static void restoreApplication(TSystray* sender);
    static void popUpMenu(TSystray* sender);

    QSystemTrayIcon* trayIcon;
    bool isEnabled = true;
    bool isShown = false;
    QIcon ownIcon;
    QString hintText;
    QString messageText;
    QPointer<QMenu> menu;
};
