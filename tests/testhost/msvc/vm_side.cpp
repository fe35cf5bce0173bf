// The game's script VM as it meets the native function binding, compiled as
// the game's own code: the VM's view of a native function object (slot 0 its
// deleting destructor, slot 4 returning a class), its registry and policies
// with their operations at the game's slot numbers, and the host routines
// that the binding calls, as member functions of the host's classes.
#include "vm_side.h"

namespace {

struct StringCacheRef {
    const char* text;
};

struct Value {
    unsigned typeTag;
    unsigned datum;
};

// A class with a constructor: the VM receives it from slot 4 through storage
// that it provides.
struct TypeDescriptor {
    TypeDescriptor() : tag(0xEEEEEEEEu) {}
    unsigned tag;
};

// The VM's native function interface. The forwarding slots are declared with
// arbitrary signatures: the object must pass any of them on untouched.
class IFunction {
  public:
    virtual ~IFunction() {}                                       // 0
    virtual StringCacheRef* GetFunctionNameRef() = 0;             // 1
    virtual StringCacheRef* GetClassNameRef() = 0;                // 2
    virtual void** GetExtraFieldARef() = 0;                       // 3
    virtual TypeDescriptor CopyReturnType() = 0;                  // 4
    virtual unsigned GetParameterCountA() = 0;                    // 5
    virtual unsigned Op6(unsigned a, unsigned b, unsigned c) = 0; // 6
    virtual unsigned GetParameterCountB() = 0;                    // 7
    virtual bool AlwaysTrue() = 0;                                // 8
    virtual unsigned char GetFlagA() = 0;                         // 9
    virtual bool AlwaysFalse() = 0;                               // 10
    virtual unsigned AlwaysZero() = 0;                            // 11
    virtual unsigned GetHostValue() = 0;                          // 12
    virtual void** GetExtraFieldBRef() = 0;                       // 13
    virtual void IgnoreArgument(unsigned value) = 0;              // 14
    virtual unsigned long long Op15(unsigned a, unsigned b) = 0;  // 15
    virtual bool Op16(unsigned a) = 0;                            // 16
    virtual bool ClearOutputAndFail(unsigned, unsigned* out) = 0; // 17
    virtual void* Op18(unsigned a, unsigned b, unsigned c) = 0;   // 18
    virtual unsigned char GetFlagB() = 0;                         // 19
    virtual void SetFlagB(unsigned char value) = 0;               // 20
    virtual bool CallbackPresent() = 0;                           // 21
    virtual bool CallNative(unsigned first, void* registry, unsigned third, Value* result,
                            VmStack* stack) = 0; // 22
};

struct ParameterEntry {
    StringCacheRef name;
    unsigned type;
};

// The object's data as the host's routines see it.
struct FunctionData {
    const void* table;
    unsigned hostWord;
    StringCacheRef functionName;
    StringCacheRef className;
    void* extraFieldA;
    unsigned returnType;
    ParameterEntry* parameters;
    unsigned short parameterWord;
    unsigned short parameterCount;
    unsigned char flagA;
    unsigned char flagB;
    unsigned short unused34;
    unsigned hostValue;
    void* extraFieldB;
    void* callback;
};
static_assert(sizeof(FunctionData) == 48);

template <typename T> void Zero(T& object) {
    __builtin_memset(&object, 0, sizeof object);
}

bool SameText(const char* a, const char* b) {
    if (a == nullptr || b == nullptr) {
        return a == b;
    }
    while (*a != 0 && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

unsigned Word(const void* pointer) {
    return static_cast<unsigned>(reinterpret_cast<unsigned long>(pointer));
}

// --- the host heap ---

VmHeapLog heapLog;
alignas(8) unsigned char heapBlocks[VmHeapCapacity][48];
unsigned heapUsed;

class HostHeap {
  public:
    void* Allocate(unsigned size, unsigned a, unsigned b) {
        unsigned call = __atomic_add_fetch(&heapLog.allocations, 1, __ATOMIC_SEQ_CST);
        heapLog.lastSize = size;
        heapLog.lastExtra[0] = a;
        heapLog.lastExtra[1] = b;
        heapLog.lastHeap = this;
        if (call == heapLog.failAllocationAt || size > sizeof heapBlocks[0] ||
            heapUsed >= VmHeapCapacity) {
            return nullptr;
        }
        unsigned char* block = heapBlocks[heapUsed++];
        for (unsigned i = 0; i < sizeof heapBlocks[0]; ++i) {
            block[i] = 0xAB; // the host heap gives no zeroed memory
        }
        return block;
    }
    void Free(void* block, unsigned extra) {
        unsigned index = __atomic_fetch_add(&heapLog.frees, 1, __ATOMIC_SEQ_CST);
        if (index < VmHeapCapacity) {
            heapLog.freed[index] = block;
        }
        heapLog.lastFreeExtra = extra;
        heapLog.lastHeap = this;
    }
};

// --- cached strings ---

constexpr unsigned CacheCapacity = 16;
char cacheTexts[CacheCapacity][64];
unsigned cacheCount;
char emptyText[1];

const char* Intern(const char* text) {
    if (text == nullptr || *text == 0) {
        return emptyText;
    }
    for (unsigned i = 0; i < cacheCount; ++i) {
        if (SameText(cacheTexts[i], text)) {
            return cacheTexts[i];
        }
    }
    if (cacheCount == CacheCapacity) {
        return emptyText;
    }
    char* entry = cacheTexts[cacheCount++];
    unsigned i = 0;
    for (; i + 1 < sizeof cacheTexts[0] && text[i] != 0; ++i) {
        entry[i] = text[i];
    }
    entry[i] = 0;
    return entry;
}

VmValueLog valueLog;

class CachedString {
  public:
    void Set(const char* text) {
        if (valueLog.setCount < VmValueLogCapacity) {
            valueLog.setTexts[valueLog.setCount] = text;
            valueLog.setRefs[valueLog.setCount] = this;
        }
        ++valueLog.setCount;
        reinterpret_cast<StringCacheRef*>(this)->text = Intern(text);
    }
};

// --- values and the argument list ---

class ValueOperations {
  public:
    void Release() {
        Value* value = reinterpret_cast<Value*>(this);
        unsigned index = __atomic_fetch_add(&valueLog.releaseCount, 1, __ATOMIC_SEQ_CST);
        if (index < VmValueLogCapacity) {
            valueLog.released[index] = VmValueCall{this, value->typeTag, value->datum};
        }
        // The caller writes the datum afterwards; the poison shows it if not.
        value->datum = VmReleasedDatumPoison;
    }
    void Assign(const Value* source) {
        if (valueLog.assignCount < VmValueLogCapacity) {
            valueLog.assigned[valueLog.assignCount] =
                VmValueCall{this, source->typeTag, source->datum};
        }
        ++valueLog.assignCount;
        *reinterpret_cast<Value*>(this) = *source;
    }
};

class ArgumentList {
  public:
    unsigned GetFirstArgumentOffset(VmStack* stack) {
        ++valueLog.argumentOffsetCalls;
        valueLog.argumentList = this;
        valueLog.argumentStack = stack;
        return VmFirstArgumentOffset;
    }
    Value* GetArgument(VmStack* stack, unsigned index, unsigned offset) {
        ++valueLog.argumentCalls;
        valueLog.argumentList = this;
        valueLog.argumentStack = stack;
        valueLog.argumentIndex = index;
        valueLog.argumentOffset = offset;
        if (offset + index >= 4) {
            return nullptr;
        }
        return reinterpret_cast<Value*>(&stack->values[offset + index]);
    }
};

ArgumentList argumentList;

// --- the native-function base ---

VmFunctionBaseLog functionLog;
ParameterEntry parameterPool[VmFunctionLogCapacity][2];

class HostFunctionBase {
  public:
    FunctionData* Data() { return reinterpret_cast<FunctionData*>(this); }

    void Init(const char* name, const char* className, unsigned staticFlag, unsigned count) {
        FunctionData* data = Data();
        unsigned index = functionLog.initCount++;
        if (index < VmFunctionLogCapacity) {
            VmInitCall& call = functionLog.inits[index];
            call = VmInitCall{this, name, className, staticFlag, count, data->table, {}};
            call.fieldsAtCall[0] = Word(data->functionName.text);
            call.fieldsAtCall[1] = Word(data->className.text);
            call.fieldsAtCall[2] = Word(data->extraFieldA);
            call.fieldsAtCall[3] = Word(data->extraFieldB);
        }
        data->hostWord = VmInitHostWord;
        data->functionName.text = name;
        data->className.text = className;
        data->parameters = count > 0 ? parameterPool[index % VmFunctionLogCapacity] : nullptr;
        for (unsigned i = 0; i < count && i < 2; ++i) {
            data->parameters[i] = ParameterEntry{{nullptr}, 0xEEEEEEEEu};
        }
        data->parameterWord = VmInitParameterWord;
        data->parameterCount = static_cast<unsigned short>(count);
        data->flagA = VmInitFlagA;
        data->flagB = VmInitFlagB;
        data->hostValue = VmInitHostValue;
    }

    void Destroy() {
        unsigned index = functionLog.destroyCount++;
        if (index < VmFunctionLogCapacity) {
            functionLog.destroyed[index] = this;
            functionLog.tableAtDestroy[index] = Data()->table;
        }
        Data()->parameters = nullptr;
    }

    void Forwarded(unsigned slot, unsigned a, unsigned b, unsigned c) {
        unsigned index = functionLog.forwardCount++;
        if (index < VmFunctionLogCapacity) {
            functionLog.forwards[index] = VmForwardCall{slot, this, {a, b, c}};
        }
    }

    unsigned Op6(unsigned a, unsigned b, unsigned c) {
        Forwarded(6, a, b, c);
        return a * 3 + b * 5 + c * 7 + Word(this);
    }
    unsigned long long Op15(unsigned a, unsigned b) {
        Forwarded(15, a, b, 0);
        return (static_cast<unsigned long long>(a ^ Word(this)) << 32) | b;
    }
    bool Op16(unsigned a) {
        Forwarded(16, a, 0, 0);
        return a == 0x16161616u;
    }
    void* Op18(unsigned a, unsigned b, unsigned c) {
        Forwarded(18, a, b, c);
        return reinterpret_cast<char*>(this) + (a ^ b ^ c);
    }
};

// --- class infos, script objects and the policies ---

VmPolicyLog policyLog;
VmHandlePolicySetup policySetup;
unsigned holderState; // 0: one holder, 1: two (when a lock word is watched)

void LogPolicyCall(unsigned slot, unsigned formType, unsigned long long handle, const void* object,
                   const void* bound, const void* policy) {
    unsigned index = __atomic_fetch_add(&policyLog.count, 1, __ATOMIC_SEQ_CST);
    if (index < VmPolicyLogCapacity) {
        policyLog.calls[index] = VmPolicyCall{slot, formType, handle, object, bound, policy};
    }
}

class ClassInfoOperations {
  public:
    void Destroy() {
        ++policyLog.destroyedClassInfos;
        policyLog.lastDestroyedClassInfo = this;
    }
};

class ScriptObjectOperations {
  public:
    void Destroy() {
        ++policyLog.destroyedScriptObjects;
        policyLog.lastDestroyedScriptObject = this;
    }
};

class BindingPolicy {
  public:
    bool Bind(void** objectVariable, unsigned long long handle) {
        LogPolicyCall(VmBindCallSlot, 0, handle, objectVariable, *objectVariable, this);
        return true;
    }
    unsigned unused;
};

BindingPolicy bindingPolicy;

#define QV_UNEXPECTED(n)                                                                           \
    virtual void unexpected##n() {                                                                 \
        ++policyLog.unexpectedSlots;                                                               \
    }

class HandlePolicy {
  public:
    QV_UNEXPECTED(0)
    virtual bool HandleHasType(unsigned formType, unsigned long long handle) { // 1
        LogPolicyCall(1, formType, handle, nullptr, nullptr, this);
        return policySetup.hasType;
    }
    virtual bool CheckHandle(unsigned long long handle) { // 2
        LogPolicyCall(2, 0, handle, nullptr, nullptr, this);
        return policySetup.checkPasses;
    }
    virtual unsigned long long GetDefaultHandle() { // 3
        LogPolicyCall(3, 0, 0, nullptr, nullptr, this);
        return policySetup.defaultHandle;
    }
    virtual unsigned long long GetHandleForObject(unsigned formType, const void* object) { // 4
        LogPolicyCall(4, formType, 0, object, nullptr, this);
        return policySetup.objectHandle;
    }
    QV_UNEXPECTED(5)
    QV_UNEXPECTED(6)
    QV_UNEXPECTED(7)
    virtual void* GetObjectForHandle(unsigned formType, unsigned long long handle) { // 8
        LogPolicyCall(8, formType, handle, nullptr, nullptr, this);
        return policySetup.objectForHandle;
    }
    virtual void AcquireHandle(unsigned long long handle) { // 9
        __atomic_add_fetch(&policyLog.acquires, 1, __ATOMIC_SEQ_CST);
        Transition(0x80000001u, 0, 1);
        LogPolicyCall(9, 0, handle, nullptr, nullptr, this);
    }
    virtual void ReleaseHandle(unsigned long long handle) { // 10
        __atomic_add_fetch(&policyLog.releases, 1, __ATOMIC_SEQ_CST);
        Transition(0x80000002u, 1, 0);
        LogPolicyCall(10, 0, handle, nullptr, nullptr, this);
    }

  private:
    static void Transition(unsigned lockedWord, unsigned from, unsigned to) {
        if (policySetup.watchedLockWord == nullptr) {
            return;
        }
        if (__atomic_load_n(policySetup.watchedLockWord, __ATOMIC_SEQ_CST) != lockedWord ||
            __atomic_exchange_n(&holderState, to, __ATOMIC_SEQ_CST) != from) {
            __atomic_add_fetch(&policyLog.transitionFaults, 1, __ATOMIC_SEQ_CST);
        }
    }
};

HandlePolicy handlePolicy;

// --- the registry ---

VmRegistryLog registryLog;
VmRegistrySetup registrySetup;
IFunction* added[8];
unsigned addedCount;

VmRegistryCall& LogRegistryCall(unsigned slot, unsigned w0 = 0, unsigned w1 = 0, unsigned w2 = 0,
                                unsigned w3 = 0, unsigned w4 = 0, unsigned output = 0) {
    static VmRegistryCall overflow;
    unsigned index = registryLog.count++;
    VmRegistryCall& call = index < VmRegistryLogCapacity ? registryLog.calls[index] : overflow;
    call = VmRegistryCall{slot, {w0, w1, w2, w3, w4}, output};
    return call;
}

#define QV_REGISTRY_UNEXPECTED(n)                                                                  \
    virtual void unexpected##n() {                                                                 \
        ++registryLog.unexpectedSlots;                                                             \
    }

class Registry {
  public:
    QV_REGISTRY_UNEXPECTED(0)
    QV_REGISTRY_UNEXPECTED(1)
    QV_REGISTRY_UNEXPECTED(2)
    QV_REGISTRY_UNEXPECTED(3)
    QV_REGISTRY_UNEXPECTED(4)
    QV_REGISTRY_UNEXPECTED(5)
    QV_REGISTRY_UNEXPECTED(6)
    QV_REGISTRY_UNEXPECTED(7)
    QV_REGISTRY_UNEXPECTED(8)
    QV_REGISTRY_UNEXPECTED(9)
    virtual bool GetClassInfoForFormType(unsigned formType, void** info) { // 10
        LogRegistryCall(10, formType, Word(info), 0, 0, 0, Word(*info));
        *info = registrySetup.classInfo;
        if (registrySetup.classInfoResult && *info != nullptr) {
            __atomic_add_fetch(static_cast<unsigned*>(*info), 1, __ATOMIC_SEQ_CST);
        }
        return registrySetup.classInfoResult;
    }
    QV_REGISTRY_UNEXPECTED(11)
    QV_REGISTRY_UNEXPECTED(12)
    virtual bool GetFormTypeForClassName(const StringCacheRef* name, unsigned* formType) { // 13
        LogRegistryCall(13, Word(name), Word(formType), 0, 0, 0, *formType);
        if (registrySetup.formTypeResult) {
            *formType = registrySetup.formType;
        }
        return registrySetup.formTypeResult;
    }
    QV_REGISTRY_UNEXPECTED(14)
    QV_REGISTRY_UNEXPECTED(15)
    QV_REGISTRY_UNEXPECTED(16)
    QV_REGISTRY_UNEXPECTED(17)
    QV_REGISTRY_UNEXPECTED(18)
    QV_REGISTRY_UNEXPECTED(19)
    virtual bool CreateScriptObject(const StringCacheRef* name, void** object) { // 20
        LogRegistryCall(20, Word(name), Word(object), 0, 0, 0, Word(*object));
        *object = registrySetup.createdObject;
        return registrySetup.createResult;
    }
    QV_REGISTRY_UNEXPECTED(21)
    QV_REGISTRY_UNEXPECTED(22)
    virtual void AddNativeFunction(IFunction* function) { // 23
        LogRegistryCall(23, Word(function));
        if (addedCount < 8) {
            added[addedCount++] = function;
        }
    }
    QV_REGISTRY_UNEXPECTED(24)
    virtual void SetNativeFunctionFlags(const char* className, const char* functionName,
                                        unsigned flags) { // 25
        LogRegistryCall(25, Word(className), Word(functionName), flags);
    }
    QV_REGISTRY_UNEXPECTED(26)
    virtual bool FindBoundScriptObject(unsigned long long handle, StringCacheRef className,
                                       void** object) { // 27
        LogRegistryCall(27, static_cast<unsigned>(handle), static_cast<unsigned>(handle >> 32),
                        Word(className.text), Word(object), 0, Word(*object));
        if (registrySetup.findResult) {
            *object = registrySetup.foundObject;
        }
        return registrySetup.findResult;
    }
    QV_REGISTRY_UNEXPECTED(28)
    QV_REGISTRY_UNEXPECTED(29)
    QV_REGISTRY_UNEXPECTED(30)
    QV_REGISTRY_UNEXPECTED(31)
    QV_REGISTRY_UNEXPECTED(32)
    QV_REGISTRY_UNEXPECTED(33)
    QV_REGISTRY_UNEXPECTED(34)
    QV_REGISTRY_UNEXPECTED(35)
    QV_REGISTRY_UNEXPECTED(36)
    QV_REGISTRY_UNEXPECTED(37)
    QV_REGISTRY_UNEXPECTED(38)
    QV_REGISTRY_UNEXPECTED(39)
    QV_REGISTRY_UNEXPECTED(40)
    QV_REGISTRY_UNEXPECTED(41)
    QV_REGISTRY_UNEXPECTED(42)
    QV_REGISTRY_UNEXPECTED(43)
    virtual void* ObtainHandlePolicy() { // 44
        LogRegistryCall(44);
        return &handlePolicy;
    }
    QV_REGISTRY_UNEXPECTED(45)
    virtual void* ObtainBindingPolicy() { // 46
        LogRegistryCall(46);
        return &bindingPolicy;
    }
};

Registry registry;

template <typename Member> const void* CodeAddress(Member member) {
    static_assert(sizeof member == sizeof(void*), "single-inheritance member pointer");
    const void* address;
    __builtin_memcpy(&address, &member, sizeof address);
    return address;
}

} // namespace

extern "C" const void* VmRoutineAddress(VmRoutine routine) {
    switch (routine) {
    case VmRoutineHostHeapAllocate:
        return CodeAddress(&HostHeap::Allocate);
    case VmRoutineHostHeapFree:
        return CodeAddress(&HostHeap::Free);
    case VmRoutineSetStringCacheRef:
        return CodeAddress(&CachedString::Set);
    case VmRoutineInitNativeFunctionBase:
        return CodeAddress(&HostFunctionBase::Init);
    case VmRoutineDestroyNativeFunctionBase:
        return CodeAddress(&HostFunctionBase::Destroy);
    case VmRoutineNativeFunctionBaseOp6:
        return CodeAddress(&HostFunctionBase::Op6);
    case VmRoutineNativeFunctionBaseOp15:
        return CodeAddress(&HostFunctionBase::Op15);
    case VmRoutineNativeFunctionBaseOp16:
        return CodeAddress(&HostFunctionBase::Op16);
    case VmRoutineNativeFunctionBaseOp18:
        return CodeAddress(&HostFunctionBase::Op18);
    case VmRoutineReleaseValueData:
        return CodeAddress(&ValueOperations::Release);
    case VmRoutineAssignValue:
        return CodeAddress(&ValueOperations::Assign);
    case VmRoutineGetFirstArgumentOffset:
        return CodeAddress(&ArgumentList::GetFirstArgumentOffset);
    case VmRoutineGetArgument:
        return CodeAddress(&ArgumentList::GetArgument);
    case VmRoutineDestroyClassInfo:
        return CodeAddress(&ClassInfoOperations::Destroy);
    case VmRoutineDestroyScriptObject:
        return CodeAddress(&ScriptObjectOperations::Destroy);
    case VmRoutineBindScriptObject:
        return CodeAddress(&BindingPolicy::Bind);
    case VmRoutineCount:
        break;
    }
    return nullptr;
}

extern "C" void VmReset() {
    Zero(heapLog);
    heapUsed = 0;
    Zero(cacheTexts);
    cacheCount = 0;
    Zero(valueLog);
    Zero(functionLog);
    Zero(parameterPool);
    Zero(policyLog);
    Zero(policySetup);
    holderState = 0;
    Zero(registryLog);
    Zero(registrySetup);
    Zero(added);
    addedCount = 0;
}

extern "C" void VmMakeStack(VmStack* stack, VmValue argument0) {
    stack->argumentList = &argumentList;
    for (VmValue& value : stack->values) {
        value = VmValue{0xBAD0BAD0u, 0xBAD0BAD0u};
    }
    stack->values[VmFirstArgumentOffset] = argument0;
}

extern "C" bool VmCallSlot22(void* function, void* registryObject, VmValue* result,
                             VmStack* stack) {
    return static_cast<IFunction*>(function)->CallNative(0x11111111u, registryObject, 0x33333333u,
                                                         reinterpret_cast<Value*>(result), stack);
}

extern "C" void VmDeleteFunction(void* function) {
    delete static_cast<IFunction*>(function);
}

extern "C" void VmDestroyFunctionInPlace(void* function) {
    static_cast<IFunction*>(function)->~IFunction();
}

extern "C" unsigned VmCopyReturnType(void* function) {
    TypeDescriptor type = static_cast<IFunction*>(function)->CopyReturnType();
    return type.tag;
}

extern "C" unsigned long long VmCallFunctionSlot(void* object, unsigned slot, unsigned a,
                                                 unsigned b, unsigned c) {
    IFunction* function = static_cast<IFunction*>(object);
    switch (slot) {
    case 1:
        return Word(function->GetFunctionNameRef());
    case 2:
        return Word(function->GetClassNameRef());
    case 3:
        return Word(function->GetExtraFieldARef());
    case 4:
        return VmCopyReturnType(object);
    case 5:
        return function->GetParameterCountA();
    case 6:
        return function->Op6(a, b, c);
    case 7:
        return function->GetParameterCountB();
    case 8:
        return function->AlwaysTrue();
    case 9:
        return function->GetFlagA();
    case 10:
        return function->AlwaysFalse();
    case 11:
        return function->AlwaysZero();
    case 12:
        return function->GetHostValue();
    case 13:
        return Word(function->GetExtraFieldBRef());
    case 14:
        function->IgnoreArgument(a);
        return 0;
    case 15:
        return function->Op15(a, b);
    case 16:
        return function->Op16(a);
    case 17:
        return function->ClearOutputAndFail(a, reinterpret_cast<unsigned*>(b));
    case 18:
        return Word(function->Op18(a, b, c));
    case 19:
        return function->GetFlagB();
    case 20:
        function->SetFlagB(static_cast<unsigned char>(a));
        return 0;
    case 21:
        return function->CallbackPresent();
    }
    return 0xFFFFFFFFFFFFFFFFull;
}

extern "C" VmHeapLog* VmHeap() {
    return &heapLog;
}
extern "C" const VmFunctionBaseLog* VmFunctionBaseRecorded() {
    return &functionLog;
}
extern "C" const VmValueLog* VmValuesRecorded() {
    return &valueLog;
}
extern "C" const char* VmCachedText(const char* text) {
    return Intern(text);
}
extern "C" VmRegistrySetup* VmRegistryConfig() {
    return &registrySetup;
}
extern "C" const VmRegistryLog* VmRegistryRecorded() {
    return &registryLog;
}
extern "C" void* VmRegistry() {
    return &registry;
}
extern "C" void* VmRegisteredFunction(const char* functionName) {
    for (unsigned i = 0; i < addedCount; ++i) {
        const FunctionData* data = reinterpret_cast<const FunctionData*>(added[i]);
        if (data != nullptr && SameText(data->functionName.text, functionName)) {
            return added[i];
        }
    }
    return nullptr;
}
extern "C" VmHandlePolicySetup* VmHandlePolicyConfig() {
    return &policySetup;
}
extern "C" const VmPolicyLog* VmHandlePolicyRecorded() {
    return &policyLog;
}
extern "C" void* VmHandlePolicy() {
    return &handlePolicy;
}
extern "C" void* VmBindingPolicy() {
    return &bindingPolicy;
}
