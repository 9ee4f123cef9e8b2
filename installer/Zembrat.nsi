; The sample installer of the Zembrat network phone: installs the product, places Uninst.exe beside
; it with the manifest Uninst.ini, and registers the uninstall entry that Apps & features shows.
; makensis -INPUTCHARSET UTF8 -DPAYLOAD=<product files> -DUNINST_EXE=<Uninst.exe> -DOUTFILE=<setup>
Unicode true
RequestExecutionLevel admin
!include "LogicLib.nsh"

!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quorill2010"
Name "Zembrat 网络电话"
OutFile "${OUTFILE}"
; In a 32-bit installer $PROGRAMFILES is the 32-bit Program Files, "C:\Program Files (x86)" on a
; 64-bit Windows. /D=<folder> on the command line overrides it.
InstallDir "$PROGRAMFILES\Zembrat 网络电话"
LoadLanguageFile "${NSISDIR}\Contrib\Language files\SimpChinese.nlf"
Page directory
Page instfiles

Var Manifest
Var FileKey
Var DirCount

; Each folder and file is recorded in the manifest as it is installed, so that Uninst.exe removes
; exactly what this installer put there and never the user's own files beside them.
!macro InstallFolder FOLDER
  CreateDirectory "$INSTDIR\${FOLDER}"
  Push "$INSTDIR\${FOLDER}"
  IntOp $DirCount $DirCount + 1
!macroend

!macro InstallFile FILE
  File "/oname=$INSTDIR\${FILE}" "${PAYLOAD}\${FILE}"
  FileWriteUTF16LE $Manifest "$FileKey=$INSTDIR\${FILE}$\r$\n"
  IntOp $FileKey $FileKey + 1
!macroend

Section
  SetOutPath "$INSTDIR"
  File "${UNINST_EXE}"
  ; UTF-16LE with a byte order mark: Windows' profile reader takes any other text for ANSI.
  FileOpen $Manifest "$INSTDIR\Uninst.ini" w
  FileWriteUTF16LE /BOM $Manifest "[Files]$\r$\n"
  StrCpy $FileKey 0
  StrCpy $DirCount 0
  !insertmacro InstallFile "Quorill.exe"
  !insertmacro InstallFile "QuorillCore.dll"
  !insertmacro InstallFile "voice.dll"
  !insertmacro InstallFile "readme.txt"
  !insertmacro InstallFolder "codec"
  !insertmacro InstallFile "codec\g711.dll"
  !insertmacro InstallFile "codec\g729.dll"
  !insertmacro InstallFolder "skin"
  !insertmacro InstallFile "skin\main.skn"
  !insertmacro InstallFile "skin\icons.bmp"
  !insertmacro InstallFolder "lang"
  !insertmacro InstallFile "lang\zh-CN.lng"

  ; Uninst.exe removes only empty folders, in key order: the last folder made, the deepest, first.
  FileWriteUTF16LE $Manifest "[Dirs]$\r$\n"
  StrCpy $0 0
  ${DoWhile} $0 < $DirCount
    Pop $1
    FileWriteUTF16LE $Manifest "$0=$1$\r$\n"
    IntOp $0 $0 + 1
  ${Loop}
  FileClose $Manifest

  ; Uninst.exe is a 32-bit program: it deletes the entry in the 32-bit view only.
  SetRegView 32
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayName" "Zembrat 网络电话"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayIcon" "$INSTDIR\Quorill.exe"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayVersion" "1.0.0.1"
  WriteRegStr HKLM "${UNINST_KEY}" "Publisher" "Quorill Networks"
  ; Quoted: of a path with spaces left bare, Windows would first try C:\Program.exe.
  WriteRegStr HKLM "${UNINST_KEY}" "UninstallString" '"$INSTDIR\Uninst.exe"'
  WriteRegStr HKLM "${UNINST_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegDWORD HKLM "${UNINST_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINST_KEY}" "NoRepair" 1
  SectionGetSize 0 $0
  WriteRegDWORD HKLM "${UNINST_KEY}" "EstimatedSize" $0
SectionEnd
