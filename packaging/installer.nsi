; The Windows installer of Lumora语音输入. Made by packaging/make.sh with
;   makensis -INPUTCHARSET UTF8 -DPRODUCT_VERSION=1.0.0
;            -DPROGRAM_EXE=<LumoraVoiceInput.exe> -DOUT_FILE=<setup.exe>
;            [-DICON_FILE=<parlino.ico>] installer.nsi
;
; A per-user install: no administrator rights, everything under the user's own
; profile and HKEY_CURRENT_USER. The uninstaller keeps the user's settings
; (%APPDATA%\Parlino) and log (%LOCALAPPDATA%\Parlino): they belong to the
; user, not to this copy of the program, and a reinstall picks them up again.

!ifndef PRODUCT_VERSION
  !error "PRODUCT_VERSION is not defined (see packaging/make.sh)"
!endif
!ifndef PROGRAM_EXE
  !error "PROGRAM_EXE is not defined (see packaging/make.sh)"
!endif
!ifndef OUT_FILE
  !error "OUT_FILE is not defined (see packaging/make.sh)"
!endif

Unicode true
; The program is 64-bit, so a 64-bit installer loses nothing; it also runs on
; Wine set-ups that have no 32-bit support.
Target amd64-unicode

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include WinMessages.nsh

!define PRODUCT_NAME "Lumora语音输入"
!define PUBLISHER "Lumora"
!define EXE_NAME "LumoraVoiceInput.exe"
!define UNINSTALLER_NAME "uninstall.exe"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Lumora.Parlino"
; The value the program writes when the user wants it to start with Windows
; (app/auto_start_win.h).
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define RUN_VALUE "Lumora.Parlino"
; The class of the program's hidden host window; WM_CLOSE to it ends the
; program as its tray menu's exit item does (app/win32_app_win.h).
!define HOST_WINDOW_CLASS "Parlino.Host"

Name "${PRODUCT_NAME}"
OutFile "${OUT_FILE}"
RequestExecutionLevel user
InstallDir "$LOCALAPPDATA\Programs\LumoraVoiceInput"
; A reinstall or an update goes where the previous install went.
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
SetCompressor /SOLID lzma
ManifestDPIAware true
ShowInstDetails show
ShowUninstDetails show

!define MUI_ABORTWARNING
; The program's own icon (res/parlino.ico) when make.sh finds it, NSIS's
; otherwise.
!ifdef ICON_FILE
  !define MUI_ICON "${ICON_FILE}"
  !define MUI_UNICON "${ICON_FILE}"
!endif
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN "$INSTDIR\${EXE_NAME}"
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "SimpChinese"

VIProductVersion "${PRODUCT_VERSION}.0"
VIFileVersion "${PRODUCT_VERSION}.0"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "ProductName" "${PRODUCT_NAME}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "FileDescription" "${PRODUCT_NAME} 安装程序"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "ProductVersion" "${PRODUCT_VERSION}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "FileVersion" "${PRODUCT_VERSION}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "LegalCopyright" "© ${PUBLISHER}"

; Ends every running copy of the program before its file is replaced or
; removed: a running executable cannot be overwritten or deleted on Windows.
; Each copy is asked to quit through its host window, so that it removes its
; tray icon and closes its connections; only one that has not ended after ten
; seconds is terminated. Defined twice because the uninstaller can only call
; functions whose names start with "un.".
!macro DEFINE_STOP_RUNNING_COPIES prefix
Function ${prefix}StopRunningCopies
  StrCpy $R0 0
  next_copy:
    FindWindow $0 "${HOST_WINDOW_CLASS}"
    StrCmp $0 0 done
    ; A window that outlives several rounds belongs to a copy that cannot be
    ; reached (e.g. one running as administrator); the file steps report it.
    IntOp $R0 $R0 + 1
    IntCmp $R0 4 0 0 done
    DetailPrint "正在退出运行中的 ${PRODUCT_NAME}…"
    System::Call 'user32::GetWindowThreadProcessId(p r0, *i .r1) i'
    ; SYNCHRONIZE | PROCESS_TERMINATE
    System::Call 'kernel32::OpenProcess(i 0x00100001, i 0, i r1) p .r2'
    System::Call 'user32::PostMessageW(p r0, i ${WM_CLOSE}, p 0, p 0) i'
    ${If} $2 = 0
      Sleep 1000
      Goto next_copy
    ${EndIf}
    System::Call 'kernel32::WaitForSingleObject(p r2, i 10000) i .r3'
    ${If} $3 <> 0
      DetailPrint "${PRODUCT_NAME} 未响应退出请求，已强制结束。"
      System::Call 'kernel32::TerminateProcess(p r2, i 1) i'
      System::Call 'kernel32::WaitForSingleObject(p r2, i 5000) i'
    ${EndIf}
    System::Call 'kernel32::CloseHandle(p r2) i'
    Goto next_copy
  done:
FunctionEnd
!macroend
!insertmacro DEFINE_STOP_RUNNING_COPIES ""
!insertmacro DEFINE_STOP_RUNNING_COPIES "un."

Section "Install"
  SetShellVarContext current
  Call StopRunningCopies

  SetOutPath "$INSTDIR"
  ; A copy that could not be stopped keeps its file locked; say so rather
  ; than leave the old program in place.
  retry_program:
    ClearErrors
    File "/oname=${EXE_NAME}" "${PROGRAM_EXE}"
    ${If} ${Errors}
      MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION \
        "无法写入 $INSTDIR\${EXE_NAME}。$\r$\n请从托盘菜单退出 ${PRODUCT_NAME} 后重试。" \
        /SD IDCANCEL IDRETRY retry_program
      Abort
    ${EndIf}
  WriteUninstaller "$INSTDIR\${UNINSTALLER_NAME}"

  CreateShortCut "$SMPROGRAMS\${PRODUCT_NAME}.lnk" "$INSTDIR\${EXE_NAME}" "" "$INSTDIR\${EXE_NAME}" 0

  ; The entry of Settings > Apps and of Programs and Features.
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT_NAME}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${PRODUCT_VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${EXE_NAME},0"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER_NAME}"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER_NAME}" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Section "Uninstall"
  SetShellVarContext current
  Call un.StopRunningCopies

  ; The program first: if it cannot go, nothing else is taken away, and the
  ; installed-programs entry stays for another try.
  retry_program:
    ClearErrors
    Delete "$INSTDIR\${EXE_NAME}"
    ${If} ${FileExists} "$INSTDIR\${EXE_NAME}"
      MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION \
        "无法删除 $INSTDIR\${EXE_NAME}。$\r$\n请从托盘菜单退出 ${PRODUCT_NAME} 后重试。" \
        /SD IDCANCEL IDRETRY retry_program
      Abort
    ${EndIf}

  ; Start with Windows would otherwise point at a program that is gone.
  DeleteRegValue HKCU "${RUN_KEY}" "${RUN_VALUE}"
  Delete "$SMPROGRAMS\${PRODUCT_NAME}.lnk"
  Delete "$INSTDIR\${UNINSTALLER_NAME}"
  ; Not /r: anything the user put in the folder stays, and so does the folder.
  RMDir "$INSTDIR"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  ; %APPDATA%\Parlino (config.toml) and %LOCALAPPDATA%\Parlino (the log) are
  ; left alone on purpose.
SectionEnd
