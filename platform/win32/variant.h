// Owners for the automation value types: a VARIANT, a BSTR and a call's argument array.
#pragma once

#include <windows.h>

#include <oleauto.h>

#include <cstddef>
#include <string_view>
#include <vector>

namespace corvix::win32 {

// A VARIANT that is cleared (VariantClear) when its owner goes.
class Variant {
 public:
  Variant() { VariantInit(&value_); }
  ~Variant() { VariantClear(&value_); }
  Variant(Variant&& other) noexcept : value_(other.value_) { VariantInit(&other.value_); }
  Variant& operator=(Variant&& other) noexcept {
    if (this != &other) {
      VariantClear(&value_);
      value_ = other.value_;
      VariantInit(&other.value_);
    }
    return *this;
  }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;

  VARIANT* get() { return &value_; }
  const VARIANT& operator*() const { return value_; }
  const VARIANT* operator->() const { return &value_; }

 private:
  VARIANT value_;
};

// A BSTR that is freed (SysFreeString) when its owner goes. Null is an empty string to automation.
class Bstr {
 public:
  Bstr() = default;
  explicit Bstr(std::wstring_view text) : value_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
  // Takes ownership of a string allocated by someone else (an EXCEPINFO's fields, for instance).
  static Bstr Adopt(BSTR owned) {
    Bstr result;
    result.value_ = owned;
    return result;
  }
  ~Bstr() { SysFreeString(value_); }
  Bstr(Bstr&& other) noexcept : value_(other.value_) { other.value_ = nullptr; }
  Bstr& operator=(Bstr&& other) noexcept {
    if (this != &other) {
      SysFreeString(value_);
      value_ = other.value_;
      other.value_ = nullptr;
    }
    return *this;
  }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;

  BSTR get() const { return value_; }
  // Gives up ownership; the caller frees the string.
  BSTR Release() {
    BSTR owned = value_;
    value_ = nullptr;
    return owned;
  }
  std::wstring_view view() const { return {value_ == nullptr ? L"" : value_, SysStringLen(value_)}; }

 private:
  BSTR value_ = nullptr;
};

// The arguments of one Invoke, in the order IDispatch wants them (last argument first). Strings are owned
// and freed here; object arguments are borrowed from their owners and neither AddRef'd nor released.
class ArgumentArray {
 public:
  explicit ArgumentArray(std::size_t count) : values_(count) {
    for (VARIANT& value : values_) VariantInit(&value);
  }
  ~ArgumentArray() {
    for (VARIANT& value : values_) {
      if (value.vt == VT_DISPATCH) continue;  // borrowed
      VariantClear(&value);
    }
  }
  ArgumentArray(const ArgumentArray&) = delete;
  ArgumentArray& operator=(const ArgumentArray&) = delete;

  std::size_t size() const { return values_.size(); }
  VARIANT* data() { return values_.data(); }
  VARIANT& operator[](std::size_t index) { return values_[index]; }

 private:
  std::vector<VARIANT> values_;
};

// Makes the empty VARIANT `target` a string (VT_BSTR) holding `text`; E_OUTOFMEMORY when it cannot be had.
inline HRESULT SetText(VARIANT& target, std::wstring_view text) {
  Bstr value(text);
  if (value.get() == nullptr) return E_OUTOFMEMORY;
  target.vt = VT_BSTR;
  target.bstrVal = value.Release();
  return S_OK;
}

}  // namespace corvix::win32
