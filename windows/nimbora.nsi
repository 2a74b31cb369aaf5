; Nimbora's installer for 64-bit Windows, built by scripts/windows with Debian's makensis:
;   makensis -DVERSION=1.6.7 -DFILES=files.nsh -DICON=nimbora.ico -DOUTFILE=Nimbora-Setup-1.6.7.exe nimbora.nsi
; FILES is made by scripts/windows from the program's folder: the macros InstallFiles and
; UninstallFiles name each file, so that the uninstaller removes what was installed and nothing else.
; Per machine, elevated. The user's settings stay unless the uninstaller is asked to remove them.
; OpenVPN and the TAP driver are not part of it: it looks for them and says where they are expected.

Unicode true
; A 64-bit installer: the 32-bit stub does nothing under a Wine without 32-bit support, and the
; program it installs is 64-bit.
Target amd64-unicode

!include "MUI2.nsh"
!include "LogicLib.nsh"

!define PRODUCT "Nimbora"
!define PUBLISHER "Ostrelle"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Nimbora"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define SETTINGS_KEY "Software\Ostrelle\Nimbora"
!define ADAPTER_CLASS_KEY "SYSTEM\CurrentControlSet\Control\Class\{4D36E972-E325-11CE-BFC1-08002BE10318}"
!define DRIVER_NAME "nimtap"
!define DRIVER_VERSION "9.0.0.22"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
RequestExecutionLevel admin
SetCompressor /SOLID lzma
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1036 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1036 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1036 "FileDescription" "Installation de ${PRODUCT}"
VIAddVersionKey /LANG=1036 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1036 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1036 "LegalCopyright" "${PUBLISHER}"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\nimbora.exe"

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_COMPONENTS
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "French"
!insertmacro MUI_LANGUAGE "English"

LangString OpenVpnMissing ${LANG_FRENCH} "OpenVPN n'est pas installé : Nimbora l'attend dans $INSTDIR\openvpn.exe, avec ses DLL. Installez-le avant de vous connecter."
LangString OpenVpnMissing ${LANG_ENGLISH} "OpenVPN is not installed: Nimbora expects it as $INSTDIR\openvpn.exe, with its DLLs. Install it before connecting."
LangString AdapterMissing ${LANG_FRENCH} "La carte réseau virtuelle de Nimbora (pilote TAP ${DRIVER_NAME} ${DRIVER_VERSION}) n'est pas installée : Nimbora le signalera à son démarrage."
LangString AdapterMissing ${LANG_ENGLISH} "Nimbora's virtual network adapter (TAP driver ${DRIVER_NAME} ${DRIVER_VERSION}) is not installed: Nimbora will say so when it starts."
LangString SettingsSection ${LANG_FRENCH} "Supprimer aussi les réglages de Nimbora"
LangString SettingsSection ${LANG_ENGLISH} "Also remove Nimbora's settings"
LangString ProgramSection ${LANG_FRENCH} "Programme"
LangString ProgramSection ${LANG_ENGLISH} "Program"

!include "${FILES}"

Function .onInit
    SetRegView 64
    SetShellVarContext all
FunctionEnd

Function un.onInit
    SetRegView 64
    SetShellVarContext all
FunctionEnd

; The launcher's own check reports a missing adapter; this only says it early.
Function CheckAdapter
    StrCpy $0 0
    ${Do}
        EnumRegKey $1 HKLM "${ADAPTER_CLASS_KEY}" $0
        ${If} $1 == ""
            ${ExitDo}
        ${EndIf}
        ReadRegStr $2 HKLM "${ADAPTER_CLASS_KEY}\$1" "ComponentId"
        ReadRegStr $3 HKLM "${ADAPTER_CLASS_KEY}\$1" "DriverVersion"
        ${If} $2 == "${DRIVER_NAME}"
        ${AndIf} $3 == "${DRIVER_VERSION}"
            Return
        ${EndIf}
        IntOp $0 $0 + 1
    ${Loop}
    DetailPrint "$(AdapterMissing)"
    MessageBox MB_OK|MB_ICONINFORMATION "$(AdapterMissing)" /SD IDOK
FunctionEnd

Section "$(ProgramSection)" SectionProgram
    SectionIn RO
    !insertmacro InstallFiles
    WriteUninstaller "$INSTDIR\uninstall.exe"
    CreateShortCut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\nimbora.exe"

    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\nimbora.exe"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1

    ${IfNot} ${FileExists} "$INSTDIR\openvpn.exe"
        DetailPrint "$(OpenVpnMissing)"
        MessageBox MB_OK|MB_ICONINFORMATION "$(OpenVpnMissing)" /SD IDOK
    ${EndIf}
    Call CheckAdapter
SectionEnd

Section "un.$(ProgramSection)" SectionUninstallProgram
    SectionIn RO
    !insertmacro UninstallFiles
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
    Delete "$SMPROGRAMS\${PRODUCT}.lnk"
    ; Starting with Windows a program that is gone would only fail at every logon. A 32-bit
    ; version wrote its value in the 32-bit view of the Run key.
    DeleteRegValue HKLM "${RUN_KEY}" "${PRODUCT}"
    SetRegView 32
    DeleteRegValue HKLM "${RUN_KEY}" "${PRODUCT}"
    SetRegView 64
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd

; Off unless chosen: a reinstallation finds the user's settings again.
Section /o "un.$(SettingsSection)" SectionUninstallSettings
    DeleteRegKey HKCU "${SETTINGS_KEY}"
    DeleteRegKey /ifempty HKCU "Software\${PUBLISHER}"
SectionEnd
