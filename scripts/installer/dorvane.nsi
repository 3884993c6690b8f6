; The per-user Windows installer of the Dorvane API Client, built by scripts/package with
;   makensis -INPUTCHARSET UTF8 -DVERSION=1.0.0 -DSTAGE=dir -DICON=file.ico -DOUTFILE=setup.exe
; VERSION is the CMake project version; STAGE holds dorvane-client.exe, dorvane.exe and
; LEIA-ME.txt as they ship (the same files go into the portable zip).
;
; No administrator rights: everything goes under the user's own profile and HKCU, so the
; installer also works on machines where the user cannot elevate.

!ifndef VERSION | STAGE | ICON | OUTFILE
  !error "VERSION, STAGE, ICON and OUTFILE are set by scripts/package"
!endif

Unicode true
; 64-bit stubs: the programs are x64 builds, and a 32-bit installer would not start under a
; 64-bit-only Wine, where the installer is tested.
Target amd64-unicode
RequestExecutionLevel user
ManifestDPIAware true
SetCompressor /SOLID lzma

!include "MUI2.nsh"
!include "FileFunc.nsh"
!include "LogicLib.nsh"

!define PRODUCT "Dorvane API Client"
!define PUBLISHER "Dorvane"
!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\DorvaneClient"
; The main window's class: a running client is found by it.
!define CLIENT_CLASS "DorvaneClientWnd"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\${PRODUCT}"
; An upgrade goes where the earlier version was installed.
InstallDirRegKey HKCU "${UNINST_KEY}" "InstallLocation"
BrandingText "${PRODUCT} ${VERSION}"
ShowInstDetails show
ShowUninstDetails show

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_COMPONENTSPAGE_NODESC

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_TEXT "Abrir o ${PRODUCT} agora"
!define MUI_FINISHPAGE_RUN_FUNCTION RunClient
!define MUI_FINISHPAGE_SHOWREADME "$INSTDIR\LEIA-ME.txt"
!define MUI_FINISHPAGE_SHOWREADME_TEXT "Mostrar o LEIA-ME"
!define MUI_FINISHPAGE_SHOWREADME_NOTCHECKED
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "PortugueseBR"

VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey /LANG=${LANG_PORTUGUESEBR} "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=${LANG_PORTUGUESEBR} "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=${LANG_PORTUGUESEBR} "LegalCopyright" "${PUBLISHER}"
VIAddVersionKey /LANG=${LANG_PORTUGUESEBR} "FileDescription" "Instalador do ${PRODUCT}"
VIAddVersionKey /LANG=${LANG_PORTUGUESEBR} "FileVersion" "${VERSION}.0"
VIAddVersionKey /LANG=${LANG_PORTUGUESEBR} "ProductVersion" "${VERSION}"

!define BUSY_TEXT "O ${PRODUCT} (ou o dorvane.exe) está aberto e não pode ser substituído.$\r$\n$\r$\nFeche o programa e clique em Repetir, ou em Cancelar para desistir."

; A running client keeps its program file locked: replacing or deleting it would fail half-way
; (an upgrade with a new client beside an old command line, or an uninstall that leaves files).
; So the file operations wait until both programs are free; a silent run retries for a few
; seconds and then gives up with exit code 2, leaving the installation as it was.
!macro DEFINE_WAIT_UNTIL_FREE prefix
Function ${prefix}ProgramsBusy  ; $R0 = 1 when the client's window is open or a program is locked
  StrCpy $R0 0
  FindWindow $R1 "${CLIENT_CLASS}"
  ${If} $R1 <> 0
    StrCpy $R0 1
    Return
  ${EndIf}
  ${ForEach} $R2 0 1 + 1
    ${If} $R2 = 0
      StrCpy $R3 "$INSTDIR\dorvane-client.exe"
    ${Else}
      StrCpy $R3 "$INSTDIR\dorvane.exe"
    ${EndIf}
    ${If} ${FileExists} "$R3"
      ClearErrors
      FileOpen $R1 "$R3" a
      ${If} ${Errors}
        StrCpy $R0 1
        Return
      ${EndIf}
      FileClose $R1
    ${EndIf}
  ${Next}
FunctionEnd

Function ${prefix}WaitUntilFree
  StrCpy $R4 0
  ${Do}
    Call ${prefix}ProgramsBusy
    ${IfThen} $R0 = 0 ${|} Return ${|}
    ${If} ${Silent}
      IntOp $R4 $R4 + 1
      ${If} $R4 < 10
        Sleep 500
        ${Continue}
      ${EndIf}
    ${EndIf}
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "${BUSY_TEXT}" /SD IDCANCEL IDRETRY retry
    DetailPrint "${PRODUCT} aberto: nada foi alterado."
    SetErrorLevel 2
    Abort
  retry:
  ${Loop}
FunctionEnd
!macroend
!insertmacro DEFINE_WAIT_UNTIL_FREE ""
!insertmacro DEFINE_WAIT_UNTIL_FREE "un."

; Started from the Documents folder, like the shortcuts: the window's folder field starts with the
; current folder, and results go next to documents, never into the program folder.
Function RunClient
  SetOutPath "$DOCUMENTS"
  Exec '"$INSTDIR\dorvane-client.exe"'
FunctionEnd

Section "${PRODUCT}" SecMain
  SectionIn RO
  Call WaitUntilFree
  SetOutPath "$INSTDIR"
  File "${STAGE}\dorvane-client.exe"
  File "${STAGE}\dorvane.exe"
  File "${STAGE}\LEIA-ME.txt"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  SetOutPath "$DOCUMENTS"
  CreateShortCut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\dorvane-client.exe" "" "$INSTDIR\dorvane-client.exe" 0

  WriteRegStr HKCU "${UNINST_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKCU "${UNINST_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINST_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKCU "${UNINST_KEY}" "DisplayIcon" "$INSTDIR\dorvane-client.exe,0"
  WriteRegStr HKCU "${UNINST_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINST_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINST_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINST_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINST_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKCU "${UNINST_KEY}" "EstimatedSize" $0
SectionEnd

Section "Atalho na área de trabalho" SecDesktop
  SetOutPath "$DOCUMENTS"
  CreateShortCut "$DESKTOP\${PRODUCT}.lnk" "$INSTDIR\dorvane-client.exe" "" "$INSTDIR\dorvane-client.exe" 0
SectionEnd

; Removes exactly what the installer wrote, file by file: the folder itself goes only when it is
; then empty, so nothing the user put there (documents, dorvane_results, dorvane_converted) is
; ever deleted.
Section "Uninstall"
  Call un.WaitUntilFree
  Delete "$INSTDIR\dorvane-client.exe"
  Delete "$INSTDIR\dorvane.exe"
  Delete "$INSTDIR\LEIA-ME.txt"
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  Delete "$DESKTOP\${PRODUCT}.lnk"
  DeleteRegKey HKCU "${UNINST_KEY}"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
SectionEnd
