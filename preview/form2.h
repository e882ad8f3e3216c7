#pragma once
// The preview window: the page picture in a zoomable, draggable viewport,
// with "Save Results To Word File" and "< Back".

#include <QImage>
#include <QString>
#include <QWidget>

class Form2 : public QWidget {
    Q_OBJECT
public:
    // The one preview window. The first call loads it (runs Form_Load).
    static Form2* instance();
    // nullptr while it is not loaded.
    static Form2* loaded();

    // Full path of the filled document in the temporary folder.
    QString mWordFile;

    // The hand-over of a new page picture to the viewer box; the set-up for it
    // runs at the next activation of the window.
    void setPicture1(const QImage& picture);
    QImage picture1() const;
};
