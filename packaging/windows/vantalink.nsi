; The Windows installer: both programs into Program Files, a Start-menu entry for the window,
; an uninstaller registered with Windows, the images folder for every user created.
; makensis -DVERSION=x.y.z -DBIN=<dir with the two programs> -DICON=<icon> -DOUT=<setup.exe>
Unicode true
Target amd64-unicode
Name "vantaLink"
OutFile "${OUT}"
InstallDir "$PROGRAMFILES64\Norvane\vantaLink"
RequestExecutionLevel admin
Icon "${ICON}"
UninstallIcon "${ICON}"
SetCompressor /SOLID lzma

!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\vantaLink"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "vantaLink"
  SetRegView 64
  SetOutPath "$INSTDIR"
  File "${BIN}/vantalink.exe"
  File "${BIN}/vantalink-cli.exe"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  SetShellVarContext all
  CreateDirectory "$APPDATA\Norvane\vantaLink\images"
  CreateDirectory "$SMPROGRAMS\vantaLink"
  CreateShortcut "$SMPROGRAMS\vantaLink\vantaLink Setup.lnk" "$INSTDIR\vantalink.exe"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayName" "vantaLink"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINST_KEY}" "Publisher" "Norvane"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayIcon" "$INSTDIR\vantalink.exe"
  WriteRegStr HKLM "${UNINST_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINST_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINST_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINST_KEY}" "NoRepair" 1
SectionEnd

; The images folder stays: it holds the user's own image files.
Section "Uninstall"
  SetRegView 64
  SetShellVarContext all
  Delete "$SMPROGRAMS\vantaLink\vantaLink Setup.lnk"
  RMDir "$SMPROGRAMS\vantaLink"
  Delete "$INSTDIR\vantalink.exe"
  Delete "$INSTDIR\vantalink-cli.exe"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  RMDir "$INSTDIR\.."
  DeleteRegKey HKLM "${UNINST_KEY}"
SectionEnd
