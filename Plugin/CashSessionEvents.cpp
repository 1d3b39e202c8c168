#include "Plugin/CashSessionEvents.h"
#include "Framework/Com.h"
#include "Framework/Exceptions.h"
#include "Framework/Messages.h"

namespace Plugin {

namespace {

const char kSource[] = "Plugin/CashSessionEvents";


// A value that does not convert must not turn a diagnostic into a failed event.
std::wstring TraceText(const VARIANT& value) {
    try {
        return Variant(value).ToString().Str();
    } catch (const VelmorException&) {
        return L"(VT " + std::to_wstring(value.vt) + L")";
    }
}

}  // namespace

CashSessionEvents::CashSessionEvents(std::shared_ptr<CashCounting> counting) : counting_(std::move(counting)) {
    Trace(L"Plugin::CashSessionEvents::CashSessionEvents(Plugin::TerminalExtender*)");
}

CashSessionEvents::~CashSessionEvents() {
    try {
        if (counting_ && reportEnd_) counting_->ReportSessionEnd(tally_);
    } catch (...) {
        try {
            OutputDebugStringW((L"Tallymark cash session end: " + ReasonOf(std::current_exception()).value_or(L"unknown error")).c_str());
        } catch (...) {
        }
    }
    try {
        Trace(L"virtual Plugin::CashSessionEvents::~CashSessionEvents()");
    } catch (...) {
    }
}

void CashSessionEvents::Trace(const wchar_t* signature, std::initializer_list<TracePart> parts) const {
    if (!counting_ || !counting_->TraceEvents()) return;
    std::wstring text = signature;
    for (const auto& [label, value] : parts) text += label + TraceText(*value);
    DebugMessage(nullptr, text);
}

STDMETHODIMP CashSessionEvents::OnActive(VARIANT, VARIANT active) {
    return PAYLANTRA_METHOD(kSource, [&] {
        Trace(L"virtual HRESULT Plugin::CashSessionEvents::OnActive(VARIANT, VARIANT)", {{L", Active:", &active}});
    });
}

STDMETHODIMP CashSessionEvents::OnBillRange(VARIANT, VARIANT minBill, VARIANT maxBill) {
    return PAYLANTRA_METHOD(kSource, [&] {
        Trace(L"virtual HRESULT Plugin::CashSessionEvents::OnBillRange(VARIANT, VARIANT, VARIANT)",
              {{L", MinBill:", &minBill}, {L", MaxBill:", &maxBill}});
    });
}

STDMETHODIMP CashSessionEvents::OnBillCount(VARIANT, VARIANT count) {
    return PAYLANTRA_METHOD(kSource, [&] {
        Trace(L"virtual HRESULT Plugin::CashSessionEvents::OnBillCount(VARIANT, VARIANT)", {{L", BillCount:", &count}});
    });
}

STDMETHODIMP CashSessionEvents::OnAccept(VARIANT, VARIANT bill) {
    return PAYLANTRA_METHOD(kSource, [&] {
        Trace(L"virtual HRESULT Plugin::CashSessionEvents::OnAccept(VARIANT, VARIANT)", {{L", Bill:", &bill}});
        IDispatch* object = Variant(bill).ToDispatch();
        if (!object) CoCheck(E_INVALIDARG, kSource, __LINE__);
        co<IPaylantraBill> host(object);
        Variant currencyValue, denominationValue;
        CoCheck(host->GetCurrency(currencyValue.Out()), kSource, __LINE__);
        std::wstring currency = currencyValue.ToString().Str();
        CoCheck(host->GetDenomination(denominationValue.Out()), kSource, __LINE__);
        long denomination = denominationValue.ToLong();
        CheckBill(denomination, currency);
        if (counting_) counting_->CountBill(uint32_t(denomination), currency);
        tally_.Add(currency, uint32_t(denomination), 1);
    });
}

STDMETHODIMP CashSessionEvents::OnDetect(VARIANT, VARIANT bill) {
    return PAYLANTRA_METHOD(kSource, [&] {
        Trace(L"virtual HRESULT Plugin::CashSessionEvents::OnDetect(VARIANT, VARIANT)", {{L", Bill:", &bill}});
        return S_FALSE;
    });
}

STDMETHODIMP CashSessionEvents::OnReject(VARIANT) {
    // Whatever the trace fails with is recorded for the caller, yet the event itself succeeds.
    PAYLANTRA_METHOD(kSource, [&] { Trace(L"virtual HRESULT Plugin::CashSessionEvents::OnReject(VARIANT)"); });
    return S_OK;
}

STDMETHODIMP CashSessionEvents::OnTimeout(VARIANT, VARIANT timeout) {
    return PAYLANTRA_METHOD(kSource, [&] {
        Trace(L"virtual HRESULT Plugin::CashSessionEvents::OnTimeout(VARIANT, VARIANT)", {{L", Timeout:", &timeout}});
    });
}

STDMETHODIMP CashSessionEvents::OnCancel(VARIANT) {
    return PAYLANTRA_METHOD(kSource, [&] { Trace(L"virtual HRESULT Plugin::CashSessionEvents::OnCancel(VARIANT)"); });
}

STDMETHODIMP CashSessionEvents::OnFailure(VARIANT) {
    return PAYLANTRA_METHOD(kSource, [&] { Trace(L"virtual HRESULT Plugin::CashSessionEvents::OnFailure(VARIANT)"); });
}

}  // namespace Plugin
