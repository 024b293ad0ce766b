; The players' installer, built by make-windows-dist.sh --installer (makensis
; with DIST_DIR, OUT_FILE, GAME_NAME, GAME_PUBLISHER, GAME_VERSION, GAME_ICON,
; CHANNEL and ARCH defined). Per user by default, into a folder the player can
; write, so that the launcher updates the game without elevation; /ALLUSERS,
; run elevated, installs for every user under Program Files and lets the
; Users group change the game folder for the same reason. /S for both
; installer and uninstaller.
Unicode true
ManifestDPIAware true
RequestExecutionLevel user
SetCompressor /SOLID lzma
!include LogicLib.nsh
!include FileFunc.nsh

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${GAME_NAME}"
!define LAUNCHER "ORN_Launcher.exe"
!define UNINSTALLER "Uninstall.exe"

!ifdef SIGN_UNINSTALLER
  !uninstfinalize '${SIGN_UNINSTALLER} "%1"' = 0
!endif

Name "${GAME_NAME}"
OutFile "${OUT_FILE}"
Icon "${GAME_ICON}"
UninstallIcon "${GAME_ICON}"
InstallDir "$LOCALAPPDATA\Programs\${GAME_NAME}"
ShowInstDetails show
ShowUninstDetails show

Var AllUsers

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

!macro ChooseScope un
Function ${un}ChooseScope
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/ALLUSERS" $1
  ${If} ${Errors}
    StrCpy $AllUsers 0
    Return
  ${EndIf}
  StrCpy $AllUsers 1
  UserInfo::GetAccountType
  Pop $1
  ${If} $1 != "Admin"
    MessageBox MB_ICONSTOP "Installing or uninstalling for all users needs an administrator: run this elevated." /SD IDOK
    SetErrorLevel 740
    Quit
  ${EndIf}
  SetShellVarContext all
  !if "${ARCH}" == "x86_64"
    SetRegView 64
  !endif
FunctionEnd
!macroend
!insertmacro ChooseScope ""
!insertmacro ChooseScope "un."

Function .onInit
  ; A folder given with /D stays the folder.
  StrCpy $2 "$LOCALAPPDATA\Programs\${GAME_NAME}"
  Call ChooseScope
  ${If} $AllUsers == 1
  ${AndIf} $INSTDIR == $2
    !if "${ARCH}" == "x86_64"
      StrCpy $INSTDIR "$PROGRAMFILES64\${GAME_NAME}"
    !else
      StrCpy $INSTDIR "$PROGRAMFILES\${GAME_NAME}"
    !endif
  ${EndIf}
FunctionEnd

Section "Install"
  SetOutPath "$INSTDIR"
  ClearErrors
  File "${DIST_DIR}\ORN_Launcher.exe"
  File "${DIST_DIR}\physfs.dll"
  File "${DIST_DIR}\sfml-network-2.dll"
  File "${DIST_DIR}\sfml-system-2.dll"
  WriteUninstaller "$INSTDIR\${UNINSTALLER}"
  ; A silent install ignores a file it cannot write: that is a failure, not an install.
  ${If} ${Errors}
    MessageBox MB_ICONSTOP "The launcher's files could not all be written to $INSTDIR: is the game running? Close it and install again." /SD IDOK
    SetErrorLevel 2
    Abort
  ${EndIf}
  ${If} $AllUsers == 1
    ; Users (by its SID, whatever the system's language) may change the game folder: the launcher updates it.
    nsExec::ExecToLog 'icacls "$INSTDIR" /grant *S-1-5-32-545:(OI)(CI)M'
    Pop $0
    ${If} $0 != 0
      DetailPrint "Users could not be given write access to $INSTDIR (icacls: $0): the launcher will not update there."
      SetErrorLevel 1
    ${EndIf}
  ${EndIf}
  CreateShortCut "$SMPROGRAMS\${GAME_NAME}.lnk" "$INSTDIR\${LAUNCHER}" "${CHANNEL}" "$INSTDIR\${UNINSTALLER}" 0
  CreateShortCut "$DESKTOP\${GAME_NAME}.lnk" "$INSTDIR\${LAUNCHER}" "${CHANNEL}" "$INSTDIR\${UNINSTALLER}" 0
  Call WriteUninstallEntry
SectionEnd

Function WriteUninstallEntry
  StrCpy $0 '"$INSTDIR\${UNINSTALLER}"'
  ${If} $AllUsers == 1
    StrCpy $0 '$0 /ALLUSERS'
  ${EndIf}
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "${GAME_NAME}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "${GAME_PUBLISHER}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${GAME_VERSION}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${UNINSTALLER},0"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" "$0"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" "$0 /S"
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
FunctionEnd

Function un.onInit
  Call un.ChooseScope
FunctionEnd

; The launcher alone knows which files it installed and which the player made or
; changed since: it removes its own and names each one it left.
Function un.RemoveGameFiles
  ; Players may write the folder of an install for all users (the launcher updates there): a program
  ; from it run by this elevated uninstaller could be anyone's. So nothing from it runs here.
  ${If} $AllUsers == 1
    DetailPrint "Installed for all users: the game's files are left in $INSTDIR. To remove them, a player runs $\"${LAUNCHER} --uninstall$\" there, then deletes the folder."
    StrCpy $0 "missing"
    Return
  ${EndIf}
  ${IfNot} ${FileExists} "$INSTDIR\${LAUNCHER}"
    DetailPrint "${LAUNCHER} is missing, so which files are the game's cannot be told: $INSTDIR is left as it is."
    StrCpy $0 "missing"
    Return
  ${EndIf}
  ; Out of the launcher's sight while it decides: this file is ours, not a player's.
  InitPluginsDir
  Rename "$INSTDIR\${UNINSTALLER}" "$PLUGINSDIR\${UNINSTALLER}"
  SetOutPath "$INSTDIR"
  ; Bounded by its silence: a launcher too old for this mode would wait for its server.
  nsExec::ExecToLog /TIMEOUT=300000 '"$INSTDIR\${LAUNCHER}" --uninstall'
  Pop $0
  SetOutPath "$PLUGINSDIR"
  ${If} $0 != 0
    Rename "$PLUGINSDIR\${UNINSTALLER}" "$INSTDIR\${UNINSTALLER}"
  ${EndIf}
FunctionEnd

!macro RemoveOwnFile name
  ClearErrors
  Delete "$INSTDIR\${name}"
  ${If} ${Errors}
    DetailPrint "Could not remove ${name}: another program holds it. Delete it once that program ends."
  ${EndIf}
!macroend

Section "Uninstall"
  Call un.RemoveGameFiles
  ${If} $0 != 0
  ${AndIf} $0 != "missing"
    MessageBox MB_ICONSTOP "The game's files could not all be removed ($0; the details say why: is the game running?). Nothing else was removed: close the game and uninstall again." /SD IDOK
    SetErrorLevel 2
    Abort
  ${EndIf}
  ${If} $0 == 0
    !insertmacro RemoveOwnFile "${LAUNCHER}"
    !insertmacro RemoveOwnFile "physfs.dll"
    !insertmacro RemoveOwnFile "sfml-network-2.dll"
    !insertmacro RemoveOwnFile "sfml-system-2.dll"
  ${EndIf}
  Delete "$INSTDIR\${UNINSTALLER}"
  Delete "$SMPROGRAMS\${GAME_NAME}.lnk"
  Delete "$DESKTOP\${GAME_NAME}.lnk"
  DeleteRegKey SHCTX "${UNINSTALL_KEY}"
  ; Never recursive: what is left there is the player's.
  RMDir "$INSTDIR"
  ${If} ${FileExists} "$INSTDIR\*.*"
    DetailPrint "Kept $INSTDIR, for the files named above."
    MessageBox MB_ICONINFORMATION "$INSTDIR was kept, for the files named in the details." /SD IDOK
  ${EndIf}
SectionEnd

