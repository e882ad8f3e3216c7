#pragma once
// A window's mouse pointer setting: default arrow, hourglass, or its custom
// picture (the hand).

#include <QCursor>
#include <QString>
#include <optional>

class QWidget;

namespace ui {

enum MousePointerKind : int { vbDefault = 0, vbHourglass = 11, vbCustom = 99 };

class WindowPointer {
  public:
    explicit WindowPointer(QWidget* window) : mWindow(window) {}

    int MousePointer() const { return mKind; }
    void SetMousePointer(int kind);

    // The custom picture; without one the custom setting shows the arrow.
    void SetMouseIcon(const QCursor& cursor);
    bool hasMouseIcon() const { return mIcon.has_value(); }

    // The hover rule: buttons show the hand, everything else the arrow, and
    // neither ever replaces the hourglass.
    void hoverButton() {
        if (mKind != vbHourglass)
            SetMousePointer(vbCustom);
    }
    void hoverBackground() {
        if (mKind != vbHourglass)
            SetMousePointer(vbDefault);
    }

  private:
    QWidget* mWindow;
    int mKind = vbDefault;
    std::optional<QCursor> mIcon;
};

// Loads a Windows .cur file as a cursor with the hotspot the file records.
// Throws automation::Error when the file cannot be read as a cursor.
QCursor LoadCursorFile(const QString& path);

} // namespace ui
