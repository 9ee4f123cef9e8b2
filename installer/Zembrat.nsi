; The sample installer of the Zembrat network phone: installs the product, places Uninst.exe beside
; it with the manifest Uninst.ini, and registers the uninstall entry that Apps & features shows.
; makensis -INPUTCHARSET UTF8 -DPAYLOAD=<product files> -DUNINST_EXE=<Uninst.exe> -DOUTFILE=<setup>
Unicode true
RequestExecutionLevel admin
!include "LogicLib.nsh"
!include "FileFunc.nsh"

!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quorill2010"
Name "Zembrat 网络电话"
OutFile "${OUTFILE}"
; In a 32-bit installer $PROGRAMFILES is the 32-bit Program Files, "C:\Program Files (x86)" on a
; 64-bit Windows. /D=<folder> on the command line overrides it.
InstallDir "$PROGRAMFILES\Zembrat 网络电话"
; An installed product is installed again where it is. A 32-bit installer reads the 32-bit view,
; where the entry is written.
InstallDirRegKey HKLM "${UNINST_KEY}" "InstallLocation"
LoadLanguageFile "${NSISDIR}\Contrib\Language files\SimpChinese.nlf"
Page directory "" "" LeaveFolder
Page instfiles

Var Manifest
Var FileKey
Var DirCount

; Moves $R9 past the string it points at; the string's length in $R2.
!macro PastString
  System::Call "kernel32::lstrlenW(p R9) i .R2"
  IntOp $R9 $R9 + $R2
  IntOp $R9 $R9 + $R2
  IntOp $R9 $R9 + 2
!macroend

; A deletion at the next restart of $INSTDIR or of anything in it, in $R3, or "". Windows keeps them
; in PendingFileRenameOperations, a REG_MULTI_SZ, which ReadRegStr does not read: pairs of
; \??\<path> and a target, an empty target for a deletion.
Function PendingDeletion
  StrCpy $R3 ""
  ; HKEY_LOCAL_MACHINE, KEY_QUERY_VALUE
  System::Call "advapi32::RegOpenKeyExW(p 0x80000002, w 'System\CurrentControlSet\Control\Session Manager', i 0, i 1, *p .R4) i .R5"
  ${IfThen} $R5 != 0 ${|} Return ${|}
  System::Call "advapi32::RegQueryValueExW(p R4, w 'PendingFileRenameOperations', p 0, *i .R5, p 0, *i .R6) i .R7"
  ${If} $R7 == 0
  ${AndIf} $R5 == 7
    ; Two zero characters more, so that every string ends inside the buffer.
    IntOp $R5 $R6 + 4
    System::Alloc $R5
    Pop $R7
    System::Call "advapi32::RegQueryValueExW(p R4, w 'PendingFileRenameOperations', p 0, p 0, p R7, *i R6 R6) i .R5"
    ${IfThen} $R5 != 0 ${|} StrCpy $R6 0 ${|}
    IntOp $R8 $R7 + $R6
    StrCpy $R9 $R7
    StrLen $R5 "\??\$INSTDIR\"
    ${DoWhile} $R9 U< $R8
      System::Call "kernel32::lstrcpynW(w .R1, p R9, i ${NSIS_MAX_STRLEN})"
      !insertmacro PastString
      !insertmacro PastString
      ; Without regard to case, as Windows names files; C:\Zembrat2 is not in C:\Zembrat.
      StrCpy $R0 "$R1\" $R5
      ${If} $R2 == 0
      ${AndIf} $R0 == "\??\$INSTDIR\"
        StrCpy $R3 $R1 "" 4
      ${EndIf}
    ${Loop}
    System::Free $R7
  ${EndIf}
  System::Call "advapi32::RegCloseKey(p R4)"
FunctionEnd

; Why $INSTDIR will not do, in $R0, or "": files in it wait to be deleted at the next restart, which
; would take the new installation's files with them; a folder that holds anything and is not this
; product's installation (the folder its entry names, with its manifest or its Uninst.exe), whose files the
; manifest would list and Uninst.exe delete; or another folder while the product is installed, whose
; entry the new one would take over.
Function CheckFolder
  Call PendingDeletion
  StrCpy $R0 ""
  SetRegView 32
  ReadRegStr $R1 HKLM "${UNINST_KEY}" "InstallLocation"
  ${DirState} "$INSTDIR" $R2
  ${If} $R3 != ""
    StrCpy $R0 "重新启动计算机时，Windows 要删除 $INSTDIR 或其中的文件。请先重新启动计算机，再安装。"
  ${ElseIf} $R1 != ""
  ${AndIf} $R1 != $INSTDIR
  ${AndIf} ${FileExists} "$R1\Uninst.exe"
    StrCpy $R0 "Zembrat 已安装在 $R1。请安装到同一文件夹，或者先卸载它。"
  ${ElseIf} $R2 == 1
    ; Left to right: with neither its manifest nor, should that be lost, its Uninst.exe, or not the entry's.
    ${IfNot} ${FileExists} "$INSTDIR\Uninst.ini"
    ${AndIfNot} ${FileExists} "$INSTDIR\Uninst.exe"
    ${OrIf} $R1 != $INSTDIR
      StrCpy $R0 "$INSTDIR 中已有其他文件。请选择一个空文件夹。"
    ${EndIf}
  ${EndIf}
FunctionEnd

Function .onInit
  ${If} ${Silent}
    Call CheckFolder
    ${If} $R0 != ""
      SetErrorLevel 2
      Quit
    ${EndIf}
  ${EndIf}
FunctionEnd

Function LeaveFolder
  Call CheckFolder
  ${If} $R0 != ""
    MessageBox MB_OK|MB_ICONSTOP $R0
    Abort
  ${EndIf}
FunctionEnd

; Over an installation of an earlier version: deletes what its manifest lists, as Uninst.exe would,
; so that what the new version no longer installs does not stay for good. Only paths in the folder.
Function RemovePrevious
  StrLen $R2 "$INSTDIR\"
  ${ForEach} $R0 0 199 + 1
    ReadINIStr $R1 "$INSTDIR\Uninst.ini" "Files" $R0
    ${IfThen} $R1 == "" ${|} ${ExitFor} ${|}
    StrCpy $R3 $R1 $R2
    ${IfThen} $R3 == "$INSTDIR\" ${|} Delete $R1 ${|}
  ${Next}
  ${ForEach} $R0 0 199 + 1
    ReadINIStr $R1 "$INSTDIR\Uninst.ini" "Dirs" $R0
    ${IfThen} $R1 == "" ${|} ${ExitFor} ${|}
    StrCpy $R3 $R1 $R2
    ${IfThen} $R3 == "$INSTDIR\" ${|} RMDir $R1 ${|}
  ${Next}
FunctionEnd

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
  Call RemovePrevious
  SetOutPath "$INSTDIR"
  File "${UNINST_EXE}"
  ; UTF-16LE with a byte order mark: Windows' profile reader takes any other text for ANSI.
  FileOpen $Manifest "$INSTDIR\Uninst.ini" w
  FileWriteUTF16LE /BOM $Manifest "[Files]$\r$\n"
  StrCpy $FileKey 0
  ; The folder itself comes last in [Dirs]: the script that deletes Uninst.exe after its exit
  ; removes it then.
  Push "$INSTDIR"
  StrCpy $DirCount 1
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
  ; What deployment tools start to remove the product without a question: the silent run.
  WriteRegStr HKLM "${UNINST_KEY}" "QuietUninstallString" '"$INSTDIR\Uninst.exe" /S'
  ; Uninst.exe deletes no key but this one: the folder is remembered here, for the next install.
  WriteRegStr HKLM "${UNINST_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegDWORD HKLM "${UNINST_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINST_KEY}" "NoRepair" 1
  SectionGetSize 0 $0
  WriteRegDWORD HKLM "${UNINST_KEY}" "EstimatedSize" $0
SectionEnd
