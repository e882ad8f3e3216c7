/*
 * Veltrane default skin: a Qt style sheet for the main window.
 *
 * The window, its frames and labels already carry the system button-face colour
 * (set by the program when a skin is present); this sheet only adds borders,
 * shading and states. It sets no fonts, sizes or large paddings: every control has
 * a fixed pixel geometry, and the text must fit the same boxes with or without it.
 */

/* Push buttons: raised, with a clear hover and pressed state. */
QPushButton {
    color: #14263a;
    background-color: qlineargradient(x1:0, y1:0, x2:0, y2:1,
                                      stop:0 #ffffff, stop:0.5 #f1f4f7, stop:1 #dde3ea);
    border: 1px solid #7d8b9b;
    border-bottom-color: #5f6d7d;
    border-radius: 3px;
    padding: 0px 4px;
}
QPushButton:hover {
    background-color: qlineargradient(x1:0, y1:0, x2:0, y2:1,
                                      stop:0 #ffffff, stop:0.5 #eaf2fb, stop:1 #d3e2f2);
    border-color: #3a6ea5;
}
QPushButton:pressed {
    background-color: qlineargradient(x1:0, y1:0, x2:0, y2:1,
                                      stop:0 #c9d6e4, stop:1 #e4ebf3);
    border-color: #2c5a8a;
}
QPushButton:focus {
    border-color: #3a6ea5;
}
QPushButton:disabled {
    color: #8d96a0;
    background-color: #eceff2;
    border-color: #b9c1ca;
}

/* Frames: a thin rounded rule; the caption sits on it, over the frame's own colour. */
QGroupBox {
    color: #1f3a5f;
    border: 1px solid #a9b4c0;
    border-radius: 4px;
    margin-top: 7px;
}
QGroupBox::title {
    subcontrol-origin: margin;
    subcontrol-position: top left;
    left: 7px;
    padding: 0px 3px;
    background-color: palette(window);
}

QLabel {
    color: #1c2733;
}

/* Entry fields: white, a quiet border that turns blue with the focus. */
QLineEdit, QPlainTextEdit {
    color: #000000;
    background-color: #ffffff;
    border: 1px solid #98a4b1;
    border-radius: 2px;
    selection-color: #ffffff;
    selection-background-color: #3a6ea5;
}
QLineEdit {
    padding: 2px 1px; /* with the 1px border: the same height and text inset as the plain field */
}
QLineEdit:hover, QPlainTextEdit:hover {
    border-color: #6f8297;
}
QLineEdit:focus, QPlainTextEdit:focus {
    border-color: #3a6ea5;
}
QLineEdit:disabled, QPlainTextEdit:disabled {
    color: #8d96a0;
    background-color: #f3f5f7;
}

/* Scroll bars: a flat groove, a rounded thumb, small arrow buttons. */
QScrollBar:vertical {
    background: #eef1f4;
    border: none;
    border-left: 1px solid #d5dbe1;
    margin: 14px 0px 14px 0px;
}
QScrollBar:horizontal {
    background: #eef1f4;
    border: none;
    border-top: 1px solid #d5dbe1;
    margin: 0px 14px 0px 14px;
}
QScrollBar::handle:vertical {
    background: #b7c2ce;
    border: 1px solid #9aa7b5;
    border-radius: 3px;
    min-height: 20px;
    margin: 1px 2px 1px 2px;
}
QScrollBar::handle:horizontal {
    background: #b7c2ce;
    border: 1px solid #9aa7b5;
    border-radius: 3px;
    min-width: 20px;
    margin: 2px 1px 2px 1px;
}
QScrollBar::handle:hover {
    background: #9fb0c2;
}
QScrollBar::handle:pressed {
    background: #8799ad;
}
QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical {
    background: #e3e8ed;
    border: 1px solid #c3ccd5;
    height: 12px;
    subcontrol-origin: margin;
}
QScrollBar::add-line:horizontal, QScrollBar::sub-line:horizontal {
    background: #e3e8ed;
    border: 1px solid #c3ccd5;
    width: 12px;
    subcontrol-origin: margin;
}
QScrollBar::sub-line:vertical { subcontrol-position: top; }
QScrollBar::add-line:vertical { subcontrol-position: bottom; }
QScrollBar::sub-line:horizontal { subcontrol-position: left; }
QScrollBar::add-line:horizontal { subcontrol-position: right; }
QScrollBar::add-line:hover, QScrollBar::sub-line:hover {
    background: #d3dce6;
}
/* The arrows: a narrow wedge of a conical gradient, its point at one edge of a
   small square, so no image files are needed beside the sheet. */
QScrollBar::up-arrow:vertical {
    width: 7px; height: 5px;
    background: qconicalgradient(cx:0.5, cy:0, angle:0, stop:0 transparent, stop:0.666 transparent, stop:0.667 #4f5d6d, stop:0.833 #4f5d6d, stop:0.834 transparent, stop:1 transparent);
}
QScrollBar::down-arrow:vertical {
    width: 7px; height: 5px;
    background: qconicalgradient(cx:0.5, cy:1, angle:0, stop:0 transparent, stop:0.166 transparent, stop:0.167 #4f5d6d, stop:0.333 #4f5d6d, stop:0.334 transparent, stop:1 transparent);
}
QScrollBar::left-arrow:horizontal {
    width: 5px; height: 7px;
    background: qconicalgradient(cx:0, cy:0.5, angle:0, stop:0 #4f5d6d, stop:0.083 #4f5d6d, stop:0.084 transparent, stop:0.916 transparent, stop:0.917 #4f5d6d, stop:1 #4f5d6d);
}
QScrollBar::right-arrow:horizontal {
    width: 5px; height: 7px;
    background: qconicalgradient(cx:1, cy:0.5, angle:0, stop:0 transparent, stop:0.416 transparent, stop:0.417 #4f5d6d, stop:0.583 #4f5d6d, stop:0.584 transparent, stop:1 transparent);
}
QScrollBar::add-page, QScrollBar::sub-page {
    background: none;
}
