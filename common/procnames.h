#pragma once
// The procedure names that error reports show, all in one place. Each text is
// shown exactly as written, letter case included; each is named after the
// handler that reports under it (MainWindow::clearClicked, PreviewWindow::
// saveClicked, ...).

namespace common::proc {

inline constexpr const char* mainWindowLoad = "in Veltrane2021/08/31.Form1.Form_Load ";
inline constexpr const char* clearClicked = "in Veltrane2021/08/31.Form1.PushButton3_Click ";
inline constexpr const char* sampleClicked = "in Veltrane2021/08/31.Form1.PushButton4_Click ";
inline constexpr const char* undoClicked = "in Veltrane2021/08/31.Form1.mnuUndo_Click ";
inline constexpr const char* createClicked = "in Veltrane2021/08/31.Form1.PushButton6_Click ";
inline constexpr const char* savePagePicture = "in Veltrane2021/08/31.Form1.SaveDocAsJPG ";
inline constexpr const char* previewActivation = "in Veltrane2021/08/31.Form2.Form_Activate ";
inline constexpr const char* previewLoad = "in Veltrane2021/08/31.Form2.Form_Load ";
inline constexpr const char* redrawImage = "in Veltrane2021/08/31.Form2.RedrawImage ";
inline constexpr const char* zoomInClicked = "in Veltrane2021/08/31.Form2.PushButton1_Click ";
inline constexpr const char* zoomOutClicked = "in Veltrane2021/08/31.Form2.PushButton2_Click ";
inline constexpr const char* viewerPressed = "in Veltrane2021/08/31.Form2.picture1_MouseDown ";
inline constexpr const char* viewerDragged = "in Veltrane2021/08/31.Form2.picture1_MouseMove ";
inline constexpr const char* viewerReleased = "in Veltrane2021/08/31.Form2.Picture1_MouseUp ";
inline constexpr const char* saveClicked = "in Veltrane2021/08/31.Form2.PushButton6_Click ";
inline constexpr const char* backClicked = "in Veltrane2021/08/31.Form2.PushButton8_Click ";
inline constexpr const char* printClicked = "in Veltrane2021/08/31.Form2.mnuPrint_Click ";
inline constexpr const char* savePdfClicked = "in Veltrane2021/08/31.Form2.mnuSaveAsPdf_Click ";
inline constexpr const char* queryUnload = "in Veltrane2021/08/31.Form2.Form_QueryUnload ";

} // namespace common::proc
