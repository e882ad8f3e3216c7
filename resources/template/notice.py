"""Facts about the warning notice's logo that the build, the checks and the logo
drawing share."""

LOGO_NAME = "template_logo"
LOGO_DESCRIPTION = "your logo here"
LOGO_PIXELS = (90, 45)    # 4-bit grey PNG
LOGO_TWIPS = (1350, 675)  # shown at 96 dpi
