; The Windows installer, made by scripts/build-windows.sh with makensis:
;   makensis -NOCD -DVERSION=<x.y.z> -DDLL=<ostrelin.dll> -DLOCALE=<folder of *.ini>
;            -DMANIFEST=<manifest.json>
;            -DLICENCES=<folder of LICENSE.txt, COPYING.LGPLv2.1.txt, NOTICE.txt>
;            -DOUTFILE=<setup.exe> ostrelin.nsi
; It installs for all users where every OBS for Windows since 28 looks for
; third-party plug-ins (not in portable mode), so no OBS folder is touched:
;   %ProgramData%\obs-studio\plugins\ostrelin\bin\64bit\ostrelin.dll
;   %ProgramData%\obs-studio\plugins\ostrelin\data\locale\*.ini
;   %ProgramData%\obs-studio\plugins\ostrelin\data\manifest.json
; with the licences and the uninstaller beside bin\ and data\. It registers the
; uninstaller in the system's list of installed programs, asks the user to quit
; OBS while OBS runs, installs again over an earlier version, and runs silently
; with /S (then it gives up while OBS runs). The uninstaller removes exactly
; what the installer put there.

Target amd64-unicode
!include LogicLib.nsh

!define NAME "Ostrelin"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\ostrelin"

Name "${NAME} ${VERSION}"
OutFile "${OUTFILE}"
RequestExecutionLevel admin
SetCompressor /SOLID lzma
ShowInstDetails show
ShowUninstDetails show

Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; $R0: 1 when a process named obs64.exe runs, else 0 (a Toolhelp snapshot of
; the processes; PROCESSENTRY32W is 568 bytes on x64, its file name at 44).
!macro OBS_RUNNING UN
Function ${UN}ObsRunning
	StrCpy $R0 0
	System::Call 'kernel32::CreateToolhelp32Snapshot(i 2, i 0) p .r1'
	IntPtrCmp $1 -1 done
	System::Alloc 568
	Pop $2
	System::Call '*$2(i 568)'
	IntPtrOp $5 $2 + 44
	System::Call 'kernel32::Process32FirstW(p r1, p r2) i .r3'
	${DoWhile} $3 <> 0
		System::Call '*$5(&w260 .r4)'
		${If} $4 == "obs64.exe"
			StrCpy $R0 1
			${Break}
		${EndIf}
		System::Call 'kernel32::Process32NextW(p r1, p r2) i .r3'
	${Loop}
	System::Free $2
	System::Call 'kernel32::CloseHandle(p r1)'
done:
FunctionEnd

; OBS loads the plug-in at start and keeps its DLL open: it must not run
; while the files change. Silent: give up (exit code 2).
Function ${UN}WaitForObs
	${Do}
		Call ${UN}ObsRunning
		${IfThen} $R0 == 0 ${|} Return ${|}
		MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION \
			"OBS Studio is running. Quit OBS Studio, then choose Retry." /SD IDCANCEL IDRETRY +2
		Abort
	${Loop}
FunctionEnd
!macroend
!insertmacro OBS_RUNNING ""
!insertmacro OBS_RUNNING "un."

Function .onInit
	SetShellVarContext all
	StrCpy $INSTDIR "$APPDATA\obs-studio\plugins\ostrelin"
	Call WaitForObs
FunctionEnd

Function un.onInit
	SetShellVarContext all
	Call un.WaitForObs
FunctionEnd

; What an install owns, removed before an upgrade writes its own and by the
; uninstaller.
!macro REMOVE_FILES
	Delete "$INSTDIR\bin\64bit\ostrelin.dll"
	RMDir "$INSTDIR\bin\64bit"
	RMDir "$INSTDIR\bin"
	Delete "$INSTDIR\data\locale\*.ini"
	RMDir "$INSTDIR\data\locale"
	Delete "$INSTDIR\data\manifest.json"
	RMDir "$INSTDIR\data"
	Delete "$INSTDIR\LICENSE.txt"
	Delete "$INSTDIR\COPYING.LGPLv2.1.txt"
	Delete "$INSTDIR\NOTICE.txt"
!macroend

Section "Ostrelin"
	!insertmacro REMOVE_FILES
	SetOutPath "$INSTDIR\bin\64bit"
	File "${DLL}"
	SetOutPath "$INSTDIR\data\locale"
	File "${LOCALE}\*.ini"
	SetOutPath "$INSTDIR\data"
	File "${MANIFEST}"
	SetOutPath "$INSTDIR"
	File "${LICENCES}\LICENSE.txt"
	File "${LICENCES}\COPYING.LGPLv2.1.txt"
	File "${LICENCES}\NOTICE.txt"
	WriteUninstaller "$INSTDIR\uninstall.exe"

	SetRegView 64
	WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${NAME} (OBS Studio plug-in)"
	WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
	WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
	WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
	WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
	WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
	WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
	!insertmacro REMOVE_FILES
	Delete "$INSTDIR\uninstall.exe"
	RMDir "$INSTDIR"
	; The parents, when the installer made them and nothing else is there.
	RMDir "$APPDATA\obs-studio\plugins"
	RMDir "$APPDATA\obs-studio"
	SetRegView 64
	DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
