#include "core/win32/dynamic_library.h"

bool DynamicLibrary::Load(const char* name) {
  Free();
  if (name && *name) module_ = LoadLibraryA(name);
  return module_ != nullptr;
}

void DynamicLibrary::Free() {
  if (module_) FreeLibrary(module_);
  module_ = nullptr;
}

void* DynamicLibrary::Find(const char* name) const {
  if (!module_ || !name) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(module_, name));
}

bool DynamicLibrary::Resolve(const DynamicFunction* table) const {
  bool complete = module_ != nullptr;
  for (const DynamicFunction* row = table; row && row->target; ++row) {
    *row->target = Find(row->name);
    if (!*row->target && !row->optional) complete = false;
  }
  return complete;
}

namespace {

// Kept loaded for the life of the process: the tables point into them.
DynamicLibrary g_shell32;
DynamicLibrary g_advapi32;
DynamicLibrary g_oleaut32;

}  // namespace

const ShellFunctions& Shell32() {
  static ShellFunctions functions = {};
  static bool loaded = false;
  if (!loaded) {
    loaded = true;
    const DynamicFunction table[] = {
        {"SHGetSpecialFolderPathA", reinterpret_cast<void**>(&functions.SHGetSpecialFolderPathA), true},
        {"SHChangeNotify", reinterpret_cast<void**>(&functions.SHChangeNotify), true},
        {nullptr, nullptr, false},
    };
    if (g_shell32.Load("shell32.dll")) g_shell32.Resolve(table);
  }
  return functions;
}

const TypeLibraryFunctions& OleAut32() {
  static TypeLibraryFunctions functions = {};
  static bool loaded = false;
  if (!loaded) {
    loaded = true;
    const DynamicFunction table[] = {
        {"LoadTypeLib", reinterpret_cast<void**>(&functions.LoadTypeLib), true},
        {"RegisterTypeLib", reinterpret_cast<void**>(&functions.RegisterTypeLib), true},
        {"UnRegisterTypeLib", reinterpret_cast<void**>(&functions.UnRegisterTypeLib), true},
        {nullptr, nullptr, false},
    };
    if (g_oleaut32.Load("oleaut32.dll")) g_oleaut32.Resolve(table);
  }
  return functions;
}

const SecurityFunctions& Advapi32() {
  static SecurityFunctions f = {};
  static bool loaded = false;
  if (!loaded) {
    loaded = true;
#define VK_ROW(name) {#name, reinterpret_cast<void**>(&f.name), true}
    const DynamicFunction table[] = {
        VK_ROW(OpenProcessToken),
        VK_ROW(OpenThreadToken),
        VK_ROW(LookupPrivilegeValueA),
        VK_ROW(AdjustTokenPrivileges),
        VK_ROW(DuplicateToken),
        VK_ROW(AllocateAndInitializeSid),
        VK_ROW(FreeSid),
        VK_ROW(GetLengthSid),
        VK_ROW(InitializeSecurityDescriptor),
        VK_ROW(SetSecurityDescriptorDacl),
        VK_ROW(SetSecurityDescriptorOwner),
        VK_ROW(SetSecurityDescriptorGroup),
        VK_ROW(InitializeAcl),
        VK_ROW(AddAccessAllowedAce),
        VK_ROW(AccessCheck),
        VK_ROW(GetNamedSecurityInfoA),
        VK_ROW(SetNamedSecurityInfoA),
        VK_ROW(SetEntriesInAclA),
        {nullptr, nullptr, false},
    };
#undef VK_ROW
    if (g_advapi32.Load("advapi32.dll")) g_advapi32.Resolve(table);
  }
  return f;
}
