; The Tallymark installer and uninstaller. Made by Setup/make-installer.sh, which defines TARGET,
; VERSION, DLL, CHM, TEMPLATES, GENERATED and OUTFILE.
;
; Exit codes (the owner's guide lists them): 0 done; 1 cancelled; 2 no terminal program and no
; folder given; 3 the plugin's registration failed (the previous version stays registered);
; 4 the running terminal program holds the plugin; 5 a file could not be written.

Target ${TARGET}
SetCompressor /SOLID lzma
RequestExecutionLevel admin
ManifestSupportedOS all

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include ${GENERATED}

!define PRODUCT "Tallymark"
!define HOST_KEY "Software\Velmor\Paylantra"
!define PLUGIN_KEY "${HOST_KEY}\Plugins\Tallymark"
!define CONTROL_KEY "${HOST_KEY}\Control Plugins\Tallymark"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Tallymark"
!define UNINSTALLER "Tallymark-uninstall.exe"
!define LOG_NAME "Tallymark-setup.log"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
BrandingText "Velmor Paylantra Tallymark ${VERSION}"
ShowInstDetails show
ShowUninstDetails show
VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1049 "ProductName" "Velmor Paylantra Tallymark plugin"
VIAddVersionKey /LANG=1049 "CompanyName" "Velmor"
VIAddVersionKey /LANG=1049 "FileDescription" "Установка модуля Tallymark"
VIAddVersionKey /LANG=1049 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1049 "ProductVersion" "${VERSION}"

Var RootPath        ; the terminal program's folder ("Root Path"), empty without one
Var TemplatesDir    ; where the default templates go
Var PreviousVersion ; the installed version being upgraded, empty on a first installation
Var LogFile         ; handle of the installation log
Var Purge           ; 1: the removal takes the money records, settings and logs too
Var HadPlugin       ; 1: a plugin DLL was in the folder before, registered or copied by hand
Var Welcome         ; what the installation will do, on its first page

!define MUI_ABORTWARNING
!define MUI_WELCOMEPAGE_TEXT "$Welcome"
!insertmacro MUI_PAGE_WELCOME
!define MUI_DIRECTORYPAGE_TEXT_TOP "Модуль Tallymark и его справка будут установлены в эту папку. Программа терминала находит модуль по его регистрации, поэтому папка может быть любой."
!define MUI_PAGE_CUSTOMFUNCTION_PRE SkipFolderOnUpgrade
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!define MUI_COMPONENTSPAGE_NODESC
!define MUI_COMPONENTSPAGE_TEXT_TOP "Счётчики купюр, сведения об инкассациях, настройки, журнал операций, отчёты и изменённые шаблоны сохраняются, если не отметить их ниже."
!insertmacro MUI_UNPAGE_COMPONENTS
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Russian"

; ---- shared by the installer and the uninstaller ----------------------------------------------------

; Says TEXT in the details and in the log beside the plugin.
!macro Say TEXT
  DetailPrint "${TEXT}"
  Push "${TEXT}"
  !ifdef __UNINSTALL__
    Call un.WriteLog
  !else
    Call WriteLog
  !endif
!macroend
!define Say "!insertmacro Say"

!macro SHARED_FUNCTIONS UN

Function ${UN}OpenLog
  ; UTF-16 with its signature: readable in Notepad whatever the machine's code page.
  ${IfNot} ${FileExists} "$INSTDIR\${LOG_NAME}"
    FileOpen $LogFile "$INSTDIR\${LOG_NAME}" w
    FileWriteWord $LogFile 0xFEFF
  ${Else}
    FileOpen $LogFile "$INSTDIR\${LOG_NAME}" a
    FileSeek $LogFile 0 END
  ${EndIf}
FunctionEnd

Function ${UN}WriteLog
  Exch $0
  ${If} $LogFile != ""
    Push $1
    Push $2
    Push $3
    Push $4
    Push $5
    Push $6
    Push $7
    ${GetTime} "" "L" $1 $2 $3 $4 $5 $6 $7
    FileWriteUTF16LE $LogFile "$3-$2-$1 $5:$6:$7  $0$\r$\n"
    Pop $7
    Pop $6
    Pop $5
    Pop $4
    Pop $3
    Pop $2
    Pop $1
  ${EndIf}
  Pop $0
FunctionEnd

; $0: a file -> $0: the lower-case hex SHA-256 of its bytes, empty when it cannot be read.
Function ${UN}FileSha256
  Push $1
  Push $2
  Push $3
  Push $4
  Push $5
  Push $6
  Push $7
  StrCpy $7 ""
  System::Call 'kernel32::CreateFileW(w r0, i 0x80000000, i 1, p 0, i 3, i 0, p 0) p.r1'
  ${If} $1 P<> -1
    System::Call 'kernel32::GetFileSize(p r1, p 0) i.r2'
    IntOp $3 $2 + 1
    System::Alloc $3
    Pop $3
    System::Call 'kernel32::ReadFile(p r1, p r3, i r2, *i .r4, p 0) i.r5'
    System::Call 'kernel32::CloseHandle(p r1)'
    ${If} $5 <> 0
    ${AndIf} $4 = $2
      ; PROV_RSA_AES with CRYPT_VERIFYCONTEXT; CALG_SHA_256; HP_HASHVAL
      System::Call 'advapi32::CryptAcquireContextW(*p .r5, p 0, p 0, i 24, i 0xF0000000) i.r6'
      ${If} $6 <> 0
        System::Call 'advapi32::CryptCreateHash(p r5, i 0x800C, p 0, i 0, *p .r1) i.r6'
        ${If} $6 <> 0
          System::Call 'advapi32::CryptHashData(p r1, p r3, i r4, i 0) i.r6'
          System::Alloc 32
          Pop $2
          System::Call 'advapi32::CryptGetHashParam(p r1, i 2, p r2, *i 32, i 0) i.r6'
          ${If} $6 <> 0
            StrCpy $4 0
            ${Do}
              IntPtrOp $6 $2 + $4
              System::Call '*$6(&i1 .r6)'
              IntOp $6 $6 & 0xFF
              IntFmt $6 "%02x" $6
              StrCpy $7 "$7$6"
              IntOp $4 $4 + 1
            ${LoopUntil} $4 = 32
          ${EndIf}
          System::Free $2
          System::Call 'advapi32::CryptDestroyHash(p r1)'
        ${EndIf}
        System::Call 'advapi32::CryptReleaseContext(p r5, i 0)'
      ${EndIf}
    ${EndIf}
    System::Free $3
  ${EndIf}
  StrCpy $0 $7
  Pop $7
  Pop $6
  Pop $5
  Pop $4
  Pop $3
  Pop $2
  Pop $1
FunctionEnd

; -> $0: "held" when the running terminal program has the plugin loaded, "locked" when the DLL cannot
; be written for another reason, "" when it is free or absent.
Function ${UN}DllState
  StrCpy $0 ""
  ${If} ${FileExists} "$INSTDIR\Tallymark.dll"
    ; A module loaded by a process refuses to be opened for writing, whatever the sharing asked for.
    System::Call 'kernel32::CreateFileW(w "$INSTDIR\Tallymark.dll", i 0x40000000, i 7, p 0, i 3, i 0, p 0) p.r1 ?e'
    Pop $2
    ${If} $1 P= -1
      ${If} $2 = 32
        StrCpy $0 "held"
      ${Else}
        StrCpy $0 "locked"
      ${EndIf}
    ${Else}
      System::Call 'kernel32::CloseHandle(p r1)'
    ${EndIf}
  ${EndIf}
FunctionEnd

; Waits while the terminal program holds the plugin: the owner may close it and retry. Silent, or
; when the owner gives up, ends with exit code 4 and nothing changed.
Function ${UN}WaitUntilDllIsFree
  ${Do}
    Call ${UN}DllState
    ${If} $0 == ""
      Return
    ${EndIf}
    ${If} $0 == "locked"
      ${Say} "Файл $INSTDIR\Tallymark.dll недоступен для записи: ничего не изменено."
      SetErrorLevel 5
      Abort "Файл модуля недоступен для записи."
    ${EndIf}
    ${Say} "Модуль загружен работающей программой терминала: ничего не изменено."
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "Модуль Tallymark загружен работающей программой терминала, поэтому его нельзя заменить.$\r$\n$\r$\nЗакройте программу терминала и нажмите «Повтор»." /SD IDCANCEL IDRETRY retry
    SetErrorLevel 4
    Abort "Закройте программу терминала и запустите установку снова."
    retry:
  ${Loop}
FunctionEnd

; Removes both class registrations that name this folder's DLL, the "CLSID" values that point at
; them, and the collection page address the registration wrote.
Function ${UN}Unregister
  !insertmacro DropClass "${PLUGIN_KEY}"
  !insertmacro DropClass "${CONTROL_KEY}"
  DeleteRegKey /ifempty HKLM "${CONTROL_KEY}"
  ReadRegStr $1 HKLM "${HOST_KEY}\URL" "collect"
  StrLen $2 "\Tallymark\collect.html"
  StrCpy $3 $1 "" -$2
  ${If} $3 == "\Tallymark\collect.html"
    DeleteRegValue HKLM "${HOST_KEY}\URL" "collect"
  ${EndIf}
FunctionEnd

!insertmacro TALLY_SHIPPED_TEMPLATE_FUNCTIONS "${UN}"
!macroend

!macro DropClass KEY
  ReadRegStr $1 HKLM "${KEY}" "CLSID"
  ${If} $1 != ""
    ReadRegStr $2 HKCR "CLSID\$1\InProcServer32" ""
    ${If} $2 == "$INSTDIR\Tallymark.dll"
      DeleteRegKey HKCR "CLSID\$1"
      DeleteRegValue HKLM "${KEY}" "CLSID"
      ${Say} "Регистрация $1 удалена."
    ${EndIf}
  ${EndIf}
!macroend

!insertmacro SHARED_FUNCTIONS ""
!insertmacro SHARED_FUNCTIONS "un."

; ---- the installer -------------------------------------------------------------------------------

; A host folder as the plugin reads it: environment references expanded; a relative folder lies in
; the terminal program's folder. $0: the folder -> $0.
Function HostFolder
  ExpandEnvStrings $0 $0
  StrCpy $1 $0 1
  StrCpy $2 $0 2 1
  ${If} $1 != "\"
  ${AndIf} $1 != "/"
  ${AndIf} $2 != ":\"
  ${AndIf} $2 != ":/"
    ${If} $RootPath == ""
      ; No terminal program: its folders are unknown; the templates stay beside the plugin.
      StrCpy $0 "$INSTDIR\Templates"
      Return
    ${EndIf}
    StrCpy $0 "$RootPath\$0"
  ${EndIf}
FunctionEnd

Function .onInit
  ReadRegStr $RootPath HKLM "${HOST_KEY}" "Root Path"
  ExpandEnvStrings $RootPath $RootPath
  ${If} $RootPath != ""
    ; "C:\Terminal\" and "C:\Terminal" name one folder.
    StrCpy $0 $RootPath 1 -1
    ${If} $0 == "\"
      StrCpy $RootPath $RootPath -1
    ${EndIf}
  ${EndIf}
  ReadRegStr $PreviousVersion HKLM "${UNINSTALL_KEY}" "DisplayVersion"
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $PreviousVersion != ""
  ${AndIf} $0 != ""
    ; An upgrade goes where the installed version is, whatever folder was asked for.
    StrCpy $INSTDIR $0
  ${ElseIf} $INSTDIR == ""
    ${If} $RootPath == ""
      ${IfThen} ${Silent} ${|} Call RefuseWithoutHost ${|}
      MessageBox MB_YESNO|MB_ICONEXCLAMATION "Программа терминала не найдена: в реестре нет значения «Root Path» ключа HKEY_LOCAL_MACHINE\${HOST_KEY}.$\r$\n$\r$\nУстановить модуль в папку, которую вы выберете? Шаблоны тогда будут положены рядом с ним, в папку Templates." IDYES +2
      Call RefuseWithoutHost
      StrCpy $INSTDIR "$PROGRAMFILES\Tallymark"
    ${Else}
      StrCpy $INSTDIR "$RootPath\Plugins\Tallymark"
    ${EndIf}
  ${EndIf}
  ${If} $PreviousVersion != ""
    StrCpy $Welcome "Установленная версия Tallymark $PreviousVersion будет заменена версией ${VERSION} в папке $INSTDIR.$\r$\n$\r$\nСчётчики купюр, сведения об инкассациях, настройки, журнал операций, отчёты и изменённые шаблоны сохранятся."
  ${Else}
    StrCpy $Welcome "Будет установлен модуль Tallymark ${VERSION}: подсчёт купюр и инкассация для программы платёжного терминала."
  ${EndIf}
  StrCpy $Welcome "$Welcome$\r$\n$\r$\nПеред установкой закройте программу терминала.$\r$\n$\r$\n$_CLICK"
FunctionEnd

Function RefuseWithoutHost
  ; There is no plugin folder yet: the admin finds the reason in the temporary folder.
  FileOpen $0 "$TEMP\${LOG_NAME}" a
  FileSeek $0 0 END
  FileWriteUTF16LE $0 "Tallymark ${VERSION}: программа терминала не найдена (нет значения $\"Root Path$\" ключа HKEY_LOCAL_MACHINE\${HOST_KEY}), папка установки не указана (/D=): ничего не установлено.$\r$\n"
  FileClose $0
  SetErrorLevel 2
  Quit
FunctionEnd

Function SkipFolderOnUpgrade
  ${If} $PreviousVersion != ""
    Abort
  ${EndIf}
FunctionEnd

; Registers the plugin as the terminal program does: its export called by name, C convention, a null
; pointer and a zero flag. -> $0: its answer, 1 when registered; 0 when it failed or could not be called.
Function Register
  StrCpy $0 0
  System::Call 'kernel32::LoadLibraryW(w "$INSTDIR\Tallymark.dll") p.r1 ?e'
  Pop $2
  ${If} $1 P= 0
    ${Say} "Модуль не загружается (ошибка Windows $2)."
    Return
  ${EndIf}
  System::Call 'kernel32::GetProcAddress(p r1, m "PaylantraPlugin_InstallInit") p.r2'
  ${If} $2 P= 0
    ${Say} "В модуле нет функции PaylantraPlugin_InstallInit."
  ${Else}
    ; Silent, no one could answer the plugin's error box: a pending quit message makes it close at once.
    ${If} ${Silent}
      System::Call 'user32::PostQuitMessage(i 0)'
    ${EndIf}
    System::Call '::$2(p 0, i 0) i.r0 ?c'
    ${If} ${Silent}
      System::Alloc 64
      Pop $3
      System::Call 'user32::PeekMessageW(p r3, p 0, i 0x12, i 0x12, i 1)'
      System::Free $3
    ${EndIf}
  ${EndIf}
  System::Call 'kernel32::FreeLibrary(p r1)'
FunctionEnd

; Puts the new FILE in place, the old one kept as FILE.previous until the installation succeeded.
!macro SwapIn FILE
  Delete "$INSTDIR\${FILE}.previous"
  ${If} ${FileExists} "$INSTDIR\${FILE}"
    Rename "$INSTDIR\${FILE}" "$INSTDIR\${FILE}.previous"
  ${EndIf}
  Rename "$INSTDIR\${FILE}.new" "$INSTDIR\${FILE}"
!macroend

!macro SwapBack FILE
  Delete "$INSTDIR\${FILE}"
  ${If} ${FileExists} "$INSTDIR\${FILE}.previous"
    Rename "$INSTDIR\${FILE}.previous" "$INSTDIR\${FILE}"
  ${EndIf}
!macroend

; One default template: written where there is none or where the installed one is a text some
; release shipped; beside a template its owner changed as NAME.new.
!macro InstallTemplate NAME HASH
  StrCpy $0 "$TemplatesDir\${NAME}"
  StrCpy $3 $0
  ${If} ${FileExists} $0
    Call FileSha256
    StrCpy $1 "${NAME}"
    Call IsShippedTemplate
    ${If} $0 == "${HASH}"
      StrCpy $3 ""
    ${ElseIf} $2 != 1
      StrCpy $3 "$TemplatesDir\${NAME}.new"
    ${EndIf}
  ${EndIf}
  ${If} $3 != ""
    ClearErrors
    File "/oname=$3" "${TEMPLATES}/${NAME}"
    ${If} ${Errors}
      ${Say} "Шаблон не записан: $3"
      StrCpy $R9 1
    ${ElseIf} $3 == "$TemplatesDir\${NAME}.new"
      ${Say} "Шаблон «${NAME}» изменён владельцем и оставлен как есть; новый шаблон по умолчанию положен рядом: ${NAME}.new"
    ${Else}
      ${Say} "Шаблон «${NAME}» записан."
    ${EndIf}
  ${EndIf}
!macroend

Section "Tallymark"
  SetOutPath "$INSTDIR"
  Call OpenLog
  ${If} $PreviousVersion != ""
    ${Say} "Tallymark ${VERSION}: обновление версии $PreviousVersion в папке $INSTDIR."
  ${Else}
    ${Say} "Tallymark ${VERSION}: установка в папку $INSTDIR."
  ${EndIf}
  Call WaitUntilDllIsFree

  ; The new files go in beside the old ones first: nothing installed is touched until all are written.
  ClearErrors
  File "/oname=Tallymark.dll.new" "${DLL}"
  File "/oname=Tallymark.chm.new" "${CHM}"
  ${If} ${Errors}
    Delete "$INSTDIR\Tallymark.dll.new"
    Delete "$INSTDIR\Tallymark.chm.new"
    ${Say} "Файлы модуля не записаны в $INSTDIR: ничего не изменено."
    SetErrorLevel 5
    Abort "Файлы модуля не записаны."
  ${EndIf}
  StrCpy $HadPlugin 0
  ${IfThen} ${FileExists} "$INSTDIR\Tallymark.dll" ${|} StrCpy $HadPlugin 1 ${|}
  !insertmacro SwapIn Tallymark.dll
  !insertmacro SwapIn Tallymark.chm

  Call Register
  ${If} $0 <> 1
    !insertmacro SwapBack Tallymark.dll
    !insertmacro SwapBack Tallymark.chm
    ${If} $HadPlugin = 1
      ; Same folder, same classes: the registration of the plugin put back still stands.
      ${If} $PreviousVersion == ""
        ${Say} "Регистрация модуля не удалась (PaylantraPlugin_InstallInit: $0). Оставлен прежний модуль."
      ${Else}
        ${Say} "Регистрация модуля не удалась (PaylantraPlugin_InstallInit: $0). Оставлена версия $PreviousVersion."
      ${EndIf}
    ${Else}
      Call Unregister
      ${Say} "Регистрация модуля не удалась (PaylantraPlugin_InstallInit: $0). Модуль не установлен."
    ${EndIf}
    SetErrorLevel 3
    Abort "Регистрация модуля не удалась."
  ${EndIf}
  ${Say} "Модуль зарегистрирован."

  ReadRegStr $0 HKCU "${HOST_KEY}\UI" "PrintTemplateDir"
  ${If} $0 == ""
    ReadRegStr $0 HKLM "${HOST_KEY}" "PrintTemplates"
  ${EndIf}
  ${If} $0 == ""
    StrCpy $0 "PrintTemplates"
  ${EndIf}
  Call HostFolder
  StrCpy $TemplatesDir "$0\Tallymark"
  CreateDirectory $TemplatesDir
  ${Say} "Шаблоны: $TemplatesDir"
  StrCpy $R9 0
  !insertmacro TALLY_TEMPLATES InstallTemplate

  WriteUninstaller "$INSTDIR\${UNINSTALLER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Tallymark: счётчик купюр и инкассация"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Velmor"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "TemplatesFolder" "$TemplatesDir"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Tallymark.dll"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
  ; In place (_?=) the removal runs in this process and its exit code reaches the caller.
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S _?=$INSTDIR'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0

  Delete "$INSTDIR\Tallymark.dll.previous"
  Delete "$INSTDIR\Tallymark.chm.previous"
  ${If} $R9 = 1
    ${Say} "Модуль установлен, но не все шаблоны записаны."
    SetErrorLevel 5
  ${Else}
    ${Say} "Tallymark ${VERSION} установлен."
  ${EndIf}
  FileClose $LogFile
SectionEnd

; ---- the uninstaller -----------------------------------------------------------------------------


; Deletes a default template the owner did not change, and the new default put beside a changed one.
!macro RemoveTemplate NAME
  StrCpy $0 "$TemplatesDir\${NAME}"
  ${If} ${FileExists} $0
    Call un.FileSha256
    StrCpy $1 "${NAME}"
    Call un.IsShippedTemplate
    ${If} $2 = 1
      Delete "$TemplatesDir\${NAME}"
    ${Else}
      ${Say} "Шаблон «${NAME}» изменён владельцем и оставлен."
    ${EndIf}
  ${EndIf}
  Delete "$TemplatesDir\${NAME}.new"
!macroend

Section "un.Модуль, справка и шаблоны по умолчанию"
  SectionIn RO
  Call un.OpenLog
  ${Say} "Tallymark: удаление из папки $INSTDIR."
  Call un.WaitUntilDllIsFree
  ; Where the logs are, before a removal with the records takes the key that says it.
  ReadRegStr $R8 HKLM "${PLUGIN_KEY}" "LogPath"
  Call un.Unregister
  Delete "$INSTDIR\Tallymark.dll"
  Delete "$INSTDIR\Tallymark.chm"
  ReadRegStr $TemplatesDir HKLM "${UNINSTALL_KEY}" "TemplatesFolder"
  ${If} $TemplatesDir != ""
    !insertmacro TALLY_SHIPPED_TEMPLATE_NAMES RemoveTemplate
    RMDir $TemplatesDir
  ${EndIf}
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd

Section /o "un.Счётчики, инкассации, настройки, журнал, отчёты" SecPurge
  StrCpy $Purge 1
  DeleteRegKey HKLM "${PLUGIN_KEY}"
  DeleteRegKey HKCU "${PLUGIN_KEY}"
  DeleteRegKey /ifempty HKLM "${CONTROL_KEY}"
  ${If} $TemplatesDir != ""
    RMDir /r $TemplatesDir
  ${EndIf}
  ${If} $R8 != ""
    ; "...\Tallymark\Tallymark *.txt": the daily files, then their folder when nothing else is in it.
    ExpandEnvStrings $R8 $R8
    Delete $R8
    ${GetParent} $R8 $0
    RMDir $0
  ${EndIf}
  RMDir /r "$APPDATA\Velmor\Paylantra\Tallymark"
  ${Say} "Счётчики, сведения об инкассациях, настройки, журнал операций, отчёты и изменённые шаблоны удалены."
SectionEnd

Section "-un.Finish"
  ${If} $Purge <> 1
    ${Say} "Счётчики, сведения об инкассациях, настройки, журнал операций, отчёты и изменённые шаблоны сохранены."
  ${EndIf}
  ${Say} "Tallymark удалён."
  FileClose $LogFile
  StrCpy $LogFile ""
  ${If} $Purge = 1
    Delete "$INSTDIR\${LOG_NAME}"
  ${EndIf}
  ; Run in place (_?=), this very program: it goes at the next restart, with the folder if empty.
  Delete /REBOOTOK "$INSTDIR\${UNINSTALLER}"
  RMDir /REBOOTOK "$INSTDIR"
SectionEnd

Function un.onInit
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/PURGE" $1
  ${IfNot} ${Errors}
    StrCpy $Purge 1
    SectionSetFlags ${SecPurge} ${SF_SELECTED}
  ${EndIf}
FunctionEnd
