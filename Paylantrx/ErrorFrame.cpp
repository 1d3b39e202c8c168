#include "Paylantrx/PaylantrxLib.h"
#include "Framework/Text.h"

namespace {

thread_local std::exception_ptr t_kept;


void Keep() noexcept { t_kept = std::current_exception(); }

}  // namespace

void RecordErrorInfo(const std::wstring& description, const std::wstring& source, DWORD helpContext) noexcept {
    ICreateErrorInfo* create = nullptr;
    if (FAILED(CreateErrorInfo(&create))) return;
    create->SetDescription(const_cast<LPOLESTR>(description.c_str()));
    create->SetSource(const_cast<LPOLESTR>(source.c_str()));
    create->SetHelpContext(helpContext);
    IErrorInfo* info = nullptr;
    if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)))) {
        SetErrorInfo(0, info);
        info->Release();
    }
    create->Release();
}

PaylantraFrame PaylantraFrameBegin(const char* signature, const char* file, int line) {
    return PaylantraFrame{signature, file, line};
}

HRESULT PaylantraFrameException(const PaylantraFrame&, const OleAutoException& error) {
    try {
        RecordErrorInfo(error.Description().empty() ? error.ReasonW() : error.Description(),
                        error.Source().empty() ? kPaylantraErrorSource : error.Source(), error.Code());
    } catch (...) {
    }
    Keep();
    return DISP_E_EXCEPTION;
}

HRESULT PaylantraFrameException(const PaylantraFrame&, const CoError& error) {
    try {
        RecordErrorInfo(error.ReasonW(), kPaylantraErrorSource, WORD(error.Code()));
    } catch (...) {
    }
    Keep();
    return FAILED(error.Code()) ? error.Code() : E_FAIL;
}

HRESULT PaylantraFrameException(const PaylantraFrame&, const VelmorException& error) {
    try {
        RecordErrorInfo(error.ReasonW(), kPaylantraErrorSource, kFrameworkErrorCode);
    } catch (...) {
    }
    Keep();
    return E_FAIL;
}

HRESULT PaylantraFrameException(const PaylantraFrame&) {
    RecordErrorInfo(L"Необработанная ошибка неизвестного типа", kPaylantraErrorSource, kFrameworkErrorCode);
    Keep();
    return E_UNEXPECTED;
}

void PaylantraFrameEnd(const PaylantraFrame&) {}

std::exception_ptr PaylantraTakeKeptException() {
    std::exception_ptr kept = std::move(t_kept);
    t_kept = nullptr;
    return kept;
}

void PaylantraClearKeptException() { t_kept = nullptr; }
