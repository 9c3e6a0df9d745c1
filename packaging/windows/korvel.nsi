; The Windows setup program: the deployed program folder into Program Files for every user of the
; machine, Start-menu entries, an entry in Apps & Features, and an uninstaller that takes all of it
; away again and leaves each user's settings (HKCU\Software\Korvel) and flight library alone.
;
;   makensis -V2 -DVERSION=3.0.3 -DDEPLOY=/path/to/deployed/folder [-DOUTFILE=/path/to/setup.exe] korvel.nsi
;
; DEPLOY is the folder scripts/windows/deploy.sh made. OUTFILE defaults to korvel-VERSION-setup.exe
; beside DEPLOY. Both /S (silent) and the uninstaller's /S work without a question asked.

!ifndef VERSION
  !error "VERSION is not defined (makensis -DVERSION=x.y.z)"
!endif
!ifndef DEPLOY
  !error "DEPLOY is not defined (makensis -DDEPLOY=<the deployed program folder>)"
!endif
!ifndef OUTFILE
  !define OUTFILE "${DEPLOY}/../korvel-${VERSION}-setup.exe"
!endif

; A 64-bit installer for a 64-bit program: it sees Program Files and the registry as the program does.
Target amd64-unicode
ManifestDPIAware true
SetCompressor /SOLID lzma

!define PRODUCT "Korvel Engine Monitor"
!define PUBLISHER "Korvel"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Korvel"
!define MENU_FOLDER "$SMPROGRAMS\Korvel"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Korvel"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
RequestExecutionLevel admin
BrandingText "${PUBLISHER} ${PRODUCT} ${VERSION}"

VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey "LegalCopyright" "${PUBLISHER}"

!include "MUI2.nsh"
!include "FileFunc.nsh"
!include "LogicLib.nsh"

!define MUI_ICON "korvel.ico"
!define MUI_UNICON "korvel.ico"
!define MUI_ABORTWARNING

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; The uninstaller removes the program's folder whole, so the folder must be the program's own: one
; that does not exist yet, is empty, or holds an earlier Korvel. Leaves "ok" or "no" on the stack.
!macro CHECK_FOLDER un
  Function ${un}CheckFolder
    Push $0
    Push $1
    Push $2
    StrCpy $1 "ok"
    ${If} ${FileExists} "$INSTDIR\*.*"
    ${AndIfNot} ${FileExists} "$INSTDIR\korvel.exe"
      FindFirst $0 $2 "$INSTDIR\*.*"
      ${DoWhile} $2 != ""
        ${If} $2 != "."
        ${AndIf} $2 != ".."
          StrCpy $1 "no"
          ${Break}
        ${EndIf}
        FindNext $0 $2
      ${Loop}
      FindClose $0
    ${EndIf}
    ; An empty or a drive's root folder is never the program's own.
    StrLen $0 "$INSTDIR"
    ${If} $0 <= 3
      StrCpy $1 "no"
    ${EndIf}
    Pop $2
    Exch $1
    Exch
    Pop $0
  FunctionEnd
!macroend
!insertmacro CHECK_FOLDER ""
!insertmacro CHECK_FOLDER "un."

Function .onInit
  SetRegView 64
  SetShellVarContext all
FunctionEnd

Function .onVerifyInstDir
  Call CheckFolder
  Pop $0
  ${If} $0 != "ok"
    Abort
  ${EndIf}
FunctionEnd

Section "Korvel Engine Monitor" SecProgram
  SectionIn RO
  ; The directory page checks the folder; a silent install (/D=...) is checked here.
  Call CheckFolder
  Pop $0
  ${If} $0 != "ok"
    MessageBox MB_ICONSTOP|MB_OK "$INSTDIR is neither empty nor an earlier installation of ${PRODUCT}.$\r$\nChoose an empty folder." /SD IDOK
    Abort
  ${EndIf}

  ; An earlier version's files go first, so no plugin of another Qt stays beside this one.
  ${If} ${FileExists} "$INSTDIR\korvel.exe"
    RMDir /r "$INSTDIR"
  ${EndIf}

  SetOutPath "$INSTDIR"
  File /r "${DEPLOY}/*"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateDirectory "${MENU_FOLDER}"
  CreateShortcut "${MENU_FOLDER}\${PRODUCT}.lnk" "$INSTDIR\korvel.exe" "" "$INSTDIR\korvel.exe" 0
  CreateShortcut "${MENU_FOLDER}\Uninstall ${PRODUCT}.lnk" "$INSTDIR\uninstall.exe" "" "$INSTDIR\uninstall.exe" 0

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\korvel.exe,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" "$0"
SectionEnd

Function un.onInit
  SetRegView 64
  SetShellVarContext all
FunctionEnd

; Only what the setup program put there: each user's settings and flight library are theirs.
Section "Uninstall"
  ; Never a folder that is not the program's (an uninstaller copied elsewhere, say).
  ${IfNot} ${FileExists} "$INSTDIR\korvel.exe"
    MessageBox MB_ICONSTOP|MB_OK "${PRODUCT} is not installed in $INSTDIR." /SD IDOK
    Abort
  ${EndIf}
  Call un.CheckFolder
  Pop $0
  ${If} $0 != "ok"
    Abort
  ${EndIf}

  Delete "${MENU_FOLDER}\${PRODUCT}.lnk"
  Delete "${MENU_FOLDER}\Uninstall ${PRODUCT}.lnk"
  RMDir "${MENU_FOLDER}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  RMDir /r "$INSTDIR"
SectionEnd
