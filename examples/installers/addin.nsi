; An example NSIS installer for the Merrowin Software add-in: it installs the add-in (MerrowinAddin.txt stands
; in for its files) with Corvix.exe beside it, and its uninstaller runs Corvix silently before it removes the
; files. Build it with the installers target, or by hand:
;
;   makensis -DCORVIX_EXE=path\to\Corvix.exe -DADDIN_FILE=MerrowinAddin.txt -DOUTFILE=MerrowinAddinSetup.exe addin.nsi
;
; It installs for the current user and never asks for elevation: the uninstaller runs Corvix with its own
; rights, and an elevated Corvix would not see the user's running Word or Outlook.
; Silent: MerrowinAddinSetup.exe /S [/D=folder], then "<folder>\Uninstall.exe" /S. The uninstaller copies
; itself to a temporary folder and starts that copy, so the first process ends before the uninstall has run;
; "<folder>\Uninstall.exe" /S _?=<folder> runs it in place and ends with it.
Unicode true

!ifndef CORVIX_EXE
  !define CORVIX_EXE "Corvix.exe"
!endif
!ifndef ADDIN_FILE
  !define ADDIN_FILE "MerrowinAddin.txt"
!endif
!ifndef OUTFILE
  !define OUTFILE "MerrowinAddinSetup.exe"
!endif
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\MerrowinAddin"

Name "Merrowin Software Add-in"
OutFile "${OUTFILE}"
RequestExecutionLevel user
InstallDir "$LOCALAPPDATA\Merrowin Software\Add-in"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "Install"
  SetOutPath "$INSTDIR"
  File "/oname=Corvix.exe" "${CORVIX_EXE}"
  File "/oname=MerrowinAddin.txt" "${ADDIN_FILE}"
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "Merrowin Software Add-in"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "Merrowin Software"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
SectionEnd

Section "Uninstall"
  ExecWait '"$INSTDIR\Corvix.exe" /s'
  ; ... then remove the files
  Delete "$INSTDIR\Corvix.exe"
  Delete "$INSTDIR\MerrowinAddin.txt"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
