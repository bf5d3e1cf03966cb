; The Windows installer: the VST3 bundle into Common Files\VST3, the CLAP plug-in into
; Common Files\CLAP and the VST 2.4 plug-in into a folder the user chooses (by default
; Program Files\VSTPlugins), each a component of its own; the guide and the uninstaller in
; Program Files\Bytone, and the uninstaller in Add or Remove Programs. The uninstaller
; takes away what was installed and the folders the installer made, when they are empty.
;   makensis -DVERSION=1.0.0 -DFILES=<the zip's folder> -DOUTFILE=<setup.exe> windows-installer.nsi
; Silent: setup.exe /S [/D=C:\path\to\VST2 folder]; the uninstaller takes /S too.
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin
ManifestDPIAware true

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "FileFunc.nsh"

!define PRODUCT "Bytone"
!define KEY "Software\Bytone"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Bytone"
!define VST3_BUNDLE "$COMMONFILES64\VST3\Bytone.vst3"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\VSTPlugins"
InstallDirRegKey HKLM "${KEY}" "VST2Folder"
VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "${PRODUCT} ${VERSION} setup"
VIAddVersionKey "CompanyName" "Kelmo"
VIAddVersionKey "LegalCopyright" "The Bytone developers, MIT licence"

!define MUI_ABORTWARNING
!define MUI_COMPONENTSPAGE_SMALLDESC
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_LICENSE "${FILES}\LICENSE"
!insertmacro MUI_PAGE_COMPONENTS
!define MUI_PAGE_CUSTOMFUNCTION_PRE SkipFolderWithoutVst2
!define MUI_DIRECTORYPAGE_TEXT_TOP "The VST 2.4 plug-in, bytone.dll, goes into this folder: choose the one your host scans for VST plug-ins. The VST3 and CLAP plug-ins go where every host looks for them, in Common Files."
!define MUI_DIRECTORYPAGE_TEXT_DESTINATION "Folder for the VST 2.4 plug-in"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; Remembers that `folder` did not exist before, as `name`, so that the uninstaller
; removes it once empty.
!macro RememberNewFolder folder name
  ${IfNot} ${FileExists} "${folder}\*.*"
    WriteRegDWORD HKLM "${KEY}" "${name}" 1
  ${EndIf}
!macroend

; Removes `folder` if the installer made it (as `name`) and it is empty.
!macro RemoveMadeFolder folder name
  ReadRegDWORD $0 HKLM "${KEY}" "${name}"
  ${If} $0 == 1
    RMDir "${folder}"
  ${EndIf}
!macroend

Section "VST3 plug-in" SectionVst3
  !insertmacro RememberNewFolder "$COMMONFILES64\VST3" "MadeVst3Folder"
  SetOutPath "${VST3_BUNDLE}\Contents\x86_64-win"
  File "${FILES}\Bytone.vst3\Contents\x86_64-win\Bytone.vst3"
  WriteRegDWORD HKLM "${KEY}" "Vst3" 1
SectionEnd

Section "CLAP plug-in" SectionClap
  !insertmacro RememberNewFolder "$COMMONFILES64\CLAP" "MadeClapFolder"
  SetOutPath "$COMMONFILES64\CLAP"
  File "${FILES}\bytone.clap"
  WriteRegDWORD HKLM "${KEY}" "Clap" 1
SectionEnd

Section "VST 2.4 plug-in" SectionVst2
  ; The outermost of the folders the path to it makes, for the uninstaller.
  StrCpy $0 "$INSTDIR"
  StrCpy $1 ""
  ${DoUntil} ${FileExists} "$0\*.*"
    StrCpy $1 "$0"
    ${GetParent} "$0" $0
    ${IfThen} $0 == "" ${|} ${ExitDo} ${|}
  ${Loop}
  ${If} $1 != ""
    WriteRegStr HKLM "${KEY}" "MadeVst2Folders" "$1"
  ${EndIf}
  SetOutPath "$INSTDIR"
  File "${FILES}\bytone.dll"
  WriteRegStr HKLM "${KEY}" "VST2Folder" "$INSTDIR"
SectionEnd

; Always: the guide, the licences and the uninstaller, in Program Files\Bytone.
Section "-Guide and uninstaller"
  SetOutPath "$PROGRAMFILES64\Bytone"
  File "${FILES}\README.md"
  File "${FILES}\LICENSE"
  File /r "${FILES}\docs"
  File /r "${FILES}\editor"
  File /r "${FILES}\web"
  File /r "${FILES}\bench"
  WriteUninstaller "$PROGRAMFILES64\Bytone\uninstall.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT} ${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Kelmo"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$PROGRAMFILES64\Bytone"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$PROGRAMFILES64\Bytone\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$PROGRAMFILES64\Bytone\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

LangString DescVst3 ${LANG_ENGLISH} "Bytone.vst3, in Common Files\VST3, where VST3 hosts look."
LangString DescClap ${LANG_ENGLISH} "bytone.clap, in Common Files\CLAP, where CLAP hosts look."
LangString DescVst2 ${LANG_ENGLISH} "bytone.dll, in the folder of the next page, for hosts of VST 2.4 plug-ins."
!insertmacro MUI_FUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${SectionVst3} $(DescVst3)
  !insertmacro MUI_DESCRIPTION_TEXT ${SectionClap} $(DescClap)
  !insertmacro MUI_DESCRIPTION_TEXT ${SectionVst2} $(DescVst2)
!insertmacro MUI_FUNCTION_DESCRIPTION_END

; The folder page is for the VST 2.4 plug-in only.
Function SkipFolderWithoutVst2
  ${IfNot} ${SectionIsSelected} ${SectionVst2}
    Abort
  ${EndIf}
FunctionEnd

Section "Uninstall"
  ReadRegDWORD $0 HKLM "${KEY}" "Vst3"
  ${If} $0 == 1
    Delete "${VST3_BUNDLE}\Contents\x86_64-win\Bytone.vst3"
    RMDir "${VST3_BUNDLE}\Contents\x86_64-win"
    RMDir "${VST3_BUNDLE}\Contents"
    RMDir "${VST3_BUNDLE}"
    !insertmacro RemoveMadeFolder "$COMMONFILES64\VST3" "MadeVst3Folder"
  ${EndIf}
  ReadRegDWORD $0 HKLM "${KEY}" "Clap"
  ${If} $0 == 1
    Delete "$COMMONFILES64\CLAP\bytone.clap"
    !insertmacro RemoveMadeFolder "$COMMONFILES64\CLAP" "MadeClapFolder"
  ${EndIf}
  ReadRegStr $1 HKLM "${KEY}" "VST2Folder"
  ${If} $1 != ""
    Delete "$1\bytone.dll"
    ; The folders the installer made on the way to it, from the inside out, while empty.
    ReadRegStr $2 HKLM "${KEY}" "MadeVst2Folders"
    ${If} $2 != ""
      ${Do}
        RMDir "$1"
        ${IfThen} $1 == $2 ${|} ${ExitDo} ${|}
        ${GetParent} "$1" $1
        ${IfThen} $1 == "" ${|} ${ExitDo} ${|}
      ${Loop}
    ${EndIf}
  ${EndIf}
  Delete "$PROGRAMFILES64\Bytone\README.md"
  Delete "$PROGRAMFILES64\Bytone\LICENSE"
  RMDir /r "$PROGRAMFILES64\Bytone\docs"
  RMDir /r "$PROGRAMFILES64\Bytone\editor"
  RMDir /r "$PROGRAMFILES64\Bytone\web"
  RMDir /r "$PROGRAMFILES64\Bytone\bench"
  Delete "$PROGRAMFILES64\Bytone\uninstall.exe"
  RMDir "$PROGRAMFILES64\Bytone"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  DeleteRegKey HKLM "${KEY}"
SectionEnd
