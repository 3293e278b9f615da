// Turns Qt's accessibility on, as a screen reader's presence does, and
// records the notices that would reach it. Offscreen, nothing activates it.
#pragma once

#include <QAccessible>
#include <QObject>
#include <QtGui/private/qguiapplication_p.h>
#include <qpa/qplatformaccessibility.h>
#include <qpa/qplatformintegration.h>
#include <utility>
#include <vector>

namespace kvx::test {

class AccessibilityRecorder {
public:
    AccessibilityRecorder()
    {
        platform()->setActive(true);
        notices().clear();
        previous_ = QAccessible::installUpdateHandler(&record);
    }
    ~AccessibilityRecorder()
    {
        QAccessible::installUpdateHandler(previous_);
        platform()->setActive(false);
    }

    int count(const QObject* object, QAccessible::Event type) const
    {
        int found = 0;
        for (const auto& [source, kind] : notices())
            found += source == object && kind == type;
        return found;
    }
    void clear() { notices().clear(); }

private:
    static QPlatformAccessibility* platform() { return QGuiApplicationPrivate::platformIntegration()->accessibility(); }
    static std::vector<std::pair<const QObject*, QAccessible::Event>>& notices()
    {
        static std::vector<std::pair<const QObject*, QAccessible::Event>> all;
        return all;
    }
    static void record(QAccessibleEvent* event) { notices().emplace_back(event->object(), event->type()); }

    QAccessible::UpdateHandler previous_ = nullptr;
};

} // namespace kvx::test
