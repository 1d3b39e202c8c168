// The template files that ship with the plugin: each template property and the file that the
// installation names for it. The files themselves lie in templates/ under these names.
#pragma once

namespace Plugin {

struct DefaultTemplate {
    const wchar_t* property;
    const wchar_t* file;
};

inline constexpr DefaultTemplate kDefaultTemplates[] = {
    {L"BillCounterOverflow.message", L"Переполнение стекера (уведомление).txt"},
    {L"collect.message", L"Инкассация (уведомление).txt"},
    {L"collect.print", L"Инкассация (чек).txt"},
    {L"collect.report", L"Инкассация (отчёт).txt"},
    {L"event.message", L"Событие (уведомление).txt"},
    {L"exit.message", L"Завершение программы (уведомление).txt"},
    {L"nextday.message", L"Изменилась текущая дата (уведомление).txt"},
    {L"NoStacker.message", L"Стекер удалён (уведомление).txt"},
    {L"payment.message", L"Приняты наличные (уведомление).txt"},
    {L"SessionFinish.message", L"Выполнен платёж (уведомление).txt"},
    {L"stacker.message", L"Стекер установлен (уведомление).txt"},
    {L"startup.message", L"Запуск программы (уведомление).txt"},
    {L"zreport.message", L"Z-отчёт (уведомление).txt"},
    {L"zreport.report", L"Z-отчёт (отчёт).txt"},
};

}  // namespace Plugin
