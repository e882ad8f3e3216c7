#pragma once
// The procedure names that error reports show, all in one place. Each text is
// shown exactly as written, letter case included.

namespace app::proc {

inline constexpr const char* Form1_Form_Load = "in Veltrane2021/08/31.Form1.Form_Load ";
inline constexpr const char* Form1_PushButton3_Click =
    "in Veltrane2021/08/31.Form1.PushButton3_Click ";
inline constexpr const char* Form1_PushButton4_Click =
    "in Veltrane2021/08/31.Form1.PushButton4_Click ";
inline constexpr const char* Form1_mnuUndo_Click = "in Veltrane2021/08/31.Form1.mnuUndo_Click ";
inline constexpr const char* Form1_PushButton6_Click =
    "in Veltrane2021/08/31.Form1.PushButton6_Click ";
inline constexpr const char* Form1_SaveDocAsJPG = "in Veltrane2021/08/31.Form1.SaveDocAsJPG ";
inline constexpr const char* Form2_Form_Activate = "in Veltrane2021/08/31.Form2.Form_Activate ";
inline constexpr const char* Form2_Form_Load = "in Veltrane2021/08/31.Form2.Form_Load ";
inline constexpr const char* Form2_RedrawImage = "in Veltrane2021/08/31.Form2.RedrawImage ";
inline constexpr const char* Form2_PushButton1_Click =
    "in Veltrane2021/08/31.Form2.PushButton1_Click ";
inline constexpr const char* Form2_PushButton2_Click =
    "in Veltrane2021/08/31.Form2.PushButton2_Click ";
inline constexpr const char* Form2_picture1_MouseDown =
    "in Veltrane2021/08/31.Form2.picture1_MouseDown ";
inline constexpr const char* Form2_picture1_MouseMove =
    "in Veltrane2021/08/31.Form2.picture1_MouseMove ";
inline constexpr const char* Form2_Picture1_MouseUp =
    "in Veltrane2021/08/31.Form2.Picture1_MouseUp ";
inline constexpr const char* Form2_PushButton6_Click =
    "in Veltrane2021/08/31.Form2.PushButton6_Click ";
inline constexpr const char* Form2_PushButton8_Click =
    "in Veltrane2021/08/31.Form2.PushButton8_Click ";
inline constexpr const char* Form2_mnuPrint_Click = "in Veltrane2021/08/31.Form2.mnuPrint_Click ";
inline constexpr const char* Form2_mnuSaveAsPdf_Click =
    "in Veltrane2021/08/31.Form2.mnuSaveAsPdf_Click ";
inline constexpr const char* Form2_Form_QueryUnload =
    "in Veltrane2021/08/31.Form2.Form_QueryUnload ";

} // namespace app::proc
