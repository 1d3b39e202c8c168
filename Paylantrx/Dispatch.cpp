#include "Paylantrx/PaylantrxLib.h"
#include "Framework/Text.h"

namespace {

void Fill(EXCEPINFO* info, WORD code, const std::wstring& source, const std::wstring& description) {
    if (!info) return;
    *info = EXCEPINFO{};
    info->wCode = code;
    info->bstrSource = SysAllocString(source.c_str());
    info->bstrDescription = SysAllocString(description.c_str());
    info->scode = DISP_E_EXCEPTION;
}

void FillFromKept(const std::exception_ptr& kept, EXCEPINFO* info) {
    try {
        std::rethrow_exception(kept);
    } catch (const OleAutoException& error) {
        Fill(info, error.Code(), error.Source().empty() ? kPaylantraErrorSource : error.Source(),
             error.Description().empty() ? error.ReasonW() : error.Description());
    } catch (const CoError& error) {
        Fill(info, WORD(error.Code()), kPaylantraErrorSource, error.ReasonW());
    } catch (const VelmorException& error) {
        Fill(info, kFrameworkErrorCode, kPaylantraErrorSource, error.ReasonW());
    } catch (...) {
        Fill(info, kFrameworkErrorCode, kPaylantraErrorSource, L"Необработанная ошибка неизвестного типа");
    }
}

}  // namespace

HRESULT PaylantraInvoke(IDispatch* self, ITypeInfo* typeInfo, DISPID member, WORD flags, DISPPARAMS* params,
                        VARIANT* result, EXCEPINFO* excepInfo, UINT* argError) noexcept {
    try {
        SetErrorInfo(0, nullptr);
        PaylantraClearKeptException();
        EXCEPINFO own{};
        HRESULT hr = DispInvoke(self, typeInfo, member, flags, params, result, &own, argError);
        std::exception_ptr kept = PaylantraTakeKeptException();
        if (kept && FAILED(hr)) {
            SysFreeString(own.bstrSource);
            SysFreeString(own.bstrDescription);
            SysFreeString(own.bstrHelpFile);
            SetErrorInfo(0, nullptr);
            FillFromKept(kept, excepInfo);
            return DISP_E_EXCEPTION;
        }
        IErrorInfo* left = nullptr;
        if (hr != DISP_E_EXCEPTION && GetErrorInfo(0, &left) == S_OK && left) {
            // The method returned but left error information behind.
            if (excepInfo) {
                *excepInfo = EXCEPINFO{};
                BSTR description = nullptr;
                if (SUCCEEDED(left->GetDescription(&description))) {
                    excepInfo->bstrDescription = description;
                    excepInfo->bstrSource = SysAllocString(kPaylantraErrorSource);
                    excepInfo->scode = DISP_E_EXCEPTION;
                    DWORD context = 0;
                    excepInfo->wCode = SUCCEEDED(left->GetHelpContext(&context)) ? WORD(context) : WORD(hr);
                }
            }
            left->Release();
            return DISP_E_EXCEPTION;
        }
        if (hr == DISP_E_EXCEPTION && excepInfo)
            *excepInfo = own;
        else {
            SysFreeString(own.bstrSource);
            SysFreeString(own.bstrDescription);
            SysFreeString(own.bstrHelpFile);
        }
        return hr;
    } catch (...) {
        return E_UNEXPECTED;
    }
}
