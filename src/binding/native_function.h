// The native function objects that the script VM calls: NativeFunction with
// the slots that every function shares, and the two class templates with the
// run operation of each signature (slot 22).
#pragma once

#include "binding/script_values.h"
#include "host/entry_points.h"
#include "host/records.h"

#include <cstdint>
#include <type_traits>

namespace quorvane {

using host::ScriptClassRegistry;
using host::ScriptStack;
using host::ScriptValue;
using host::StringCacheRef;
using host::TypeDescriptor;

inline constexpr std::uint32_t StaticFunctionFlag = 1;

class NativeFunction : public host::NativeFunctionBase {
  public:
    // Any callback, stored untyped; each class template knows its real type.
    using Callback = void (*)();

    void* QV_THISCALL Destroy(std::uint32_t flags) override;                         // slot 0
    StringCacheRef* QV_THISCALL GetFunctionNameRef() override;                       // slot 1
    StringCacheRef* QV_THISCALL GetClassNameRef() override;                          // slot 2
    void** QV_THISCALL GetExtraFieldARef() override;                                 // slot 3
    TypeDescriptor* QV_THISCALL CopyReturnType(TypeDescriptor* out) override;        // slot 4
    std::uint32_t QV_THISCALL GetParameterCountA() override;                         // slot 5
    [[gnu::naked]] void QV_THISCALL ForwardOp6() override;                           // slot 6
    std::uint32_t QV_THISCALL GetParameterCountB() override;                         // slot 7
    bool QV_THISCALL AlwaysTrue() override;                                          // slot 8
    std::uint8_t QV_THISCALL GetFlagA() override;                                    // slot 9
    bool QV_THISCALL AlwaysFalse() override;                                         // slot 10
    std::uint32_t QV_THISCALL AlwaysZero() override;                                 // slot 11
    std::uint32_t QV_THISCALL GetHostValue() override;                               // slot 12
    void** QV_THISCALL GetExtraFieldBRef() override;                                 // slot 13
    void QV_THISCALL IgnoreArgument(std::uint32_t value) override;                   // slot 14
    [[gnu::naked]] void QV_THISCALL ForwardOp15() override;                          // slot 15
    [[gnu::naked]] void QV_THISCALL ForwardOp16() override;                          // slot 16
    bool QV_THISCALL ClearOutputAndFail(std::uint32_t, std::uint32_t* out) override; // slot 17
    [[gnu::naked]] void QV_THISCALL ForwardOp18() override;                          // slot 18
    std::uint8_t QV_THISCALL GetFlagB() override;                                    // slot 19
    void QV_THISCALL SetFlagB(std::uint8_t value) override;                          // slot 20
    bool QV_THISCALL CallbackPresent() override;                                     // slot 21
    // slot 22, CallNative, stays pure: each signature has its own.

  protected:
    NativeFunction(const char* functionName, const char* className, std::uint32_t parameterCount);
    ~NativeFunction();

    // The class info of TESObjectREFR as a type; 0 when the registry has none.
    static TypeDescriptor ReferenceType(ScriptClassRegistry* registry);

    // The type descriptor of a parameter or result type of a callback.
    template <typename T> static TypeDescriptor TypeOf(TypeDescriptor reference) {
        if constexpr (std::is_void_v<T>) {
            return TypeDescriptor(host::TypeNone);
        } else if constexpr (std::is_same_v<T, StringCacheRef>) {
            return TypeDescriptor(host::TypeString);
        } else if constexpr (std::is_same_v<T, unsigned long>) {
            return TypeDescriptor(host::TypeInteger);
        } else {
            static_assert(std::is_same_v<T, host::TESObjectREFR*>, "no script type for T");
            return reference;
        }
    }
    template <typename... T>
    static constexpr bool UsesReference = (std::is_same_v<T, host::TESObjectREFR*> || ...);

    // The argument at index 0 of the call on stack.
    static const ScriptValue* FirstArgument(ScriptStack* stack);
    // Releases what result held and makes it none.
    static void SetResultNone(ScriptValue* result);
    // After an exception in a run operation: none, and nothing more may throw.
    static void SetResultNoneAfterFailure(ScriptValue* result) noexcept;

  public:
    Callback callback; // +44
};

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
static_assert(offsetof(NativeFunction, callback) == 44);
#pragma GCC diagnostic pop
static_assert(sizeof(NativeFunction) == 48);

// A function with one parameter. Construction and the run operation follow
// the order in which the host builds and calls its own.
template <typename Base, typename Result, typename Parameter>
class NativeFunction1 final : public NativeFunction {
  public:
    using Function = Result (*)(Base*, Parameter);

    NativeFunction1(const char* functionName, const char* className, Function function,
                    ScriptClassRegistry* registry)
        : NativeFunction(functionName, className, 1) {
        callback = reinterpret_cast<Callback>(function);
        TypeDescriptor reference(host::TypeNone);
        if constexpr (UsesReference<Result, Parameter>) {
            reference = ReferenceType(registry);
        }
        if (parameters != nullptr) {
            parameters[0].type = TypeOf<Parameter>(reference);
        }
        returnType = TypeOf<Result>(reference);
    }

    bool QV_THISCALL CallNative(std::uint32_t, ScriptClassRegistry*, std::uint32_t,
                                ScriptValue* result, ScriptStack* stack) override {
        static_assert(std::is_void_v<Result>, "run operation for this signature not built");
        try {
            const ScriptValue* argument = FirstArgument(stack);
            auto function = reinterpret_cast<Function>(callback);
            if constexpr (std::is_same_v<Parameter, StringCacheRef>) {
                const char* text = argument != nullptr && argument->typeTag == host::TypeString
                                       ? reinterpret_cast<const char*>(
                                             static_cast<std::uintptr_t>(argument->datum))
                                       : nullptr;
                StringCacheRef reference{nullptr};
                (*host::SetStringCacheRef)(&reference, text);
                function(nullptr, reference);
            } else {
                static_assert(std::is_same_v<Parameter, host::TESObjectREFR*>,
                              "run operation for this signature not built");
                host::TESObjectREFR* reference =
                    argument != nullptr ? UnpackObjectReference(argument, host::ReferenceFormType)
                                        : nullptr;
                function(nullptr, reference);
            }
            SetResultNone(result);
        } catch (...) {
            SetResultNoneAfterFailure(result);
        }
        return true;
    }
};

// A function without parameters.
template <typename Base, typename Result> class NativeFunction0 final : public NativeFunction {
  public:
    using Function = Result (*)(Base*);

    NativeFunction0(const char* functionName, const char* className, Function function,
                    ScriptClassRegistry* registry)
        : NativeFunction(functionName, className, 0) {
        callback = reinterpret_cast<Callback>(function);
        TypeDescriptor reference(host::TypeNone);
        if constexpr (UsesReference<Result>) {
            reference = ReferenceType(registry);
        }
        returnType = TypeOf<Result>(reference);
    }

    bool QV_THISCALL CallNative(std::uint32_t, ScriptClassRegistry* registry, std::uint32_t,
                                ScriptValue* result, ScriptStack*) override {
        try {
            auto function = reinterpret_cast<Function>(callback);
            if constexpr (std::is_same_v<Result, host::TESObjectREFR*>) {
                host::TESObjectREFR* reference = function(nullptr);
                PackObjectReference(result, reference, registry);
            } else {
                static_assert(std::is_same_v<Result, unsigned long>,
                              "run operation for this signature not built");
                unsigned long n = function(nullptr);
                (*host::ReleaseValueData)(result);
                result->datum = static_cast<std::uint32_t>(n);
                result->typeTag = host::TypeInteger;
            }
        } catch (...) {
            SetResultNoneAfterFailure(result);
        }
        return true;
    }
};

} // namespace quorvane
