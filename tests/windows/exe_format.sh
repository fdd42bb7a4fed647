#!/bin/sh
# The shipped program: a 32-bit Windows GUI executable that loads on Windows
# XP SP3 and later (subsystem 5.1, no import that XP's system DLLs lack), with
# its icon 128, version information and manifest.
exe=$1
fail() {
  echo "FAIL: $*"
  exit 1
}
out=$(file "$exe")
echo "$out"
echo "$out" | grep -q "PE32 executable (GUI) Intel 80386" || fail "not a 32-bit Windows GUI program"

dump=$(i686-w64-mingw32-objdump -p "$exe") || fail "objdump cannot read $exe"
echo "$dump" | grep -q "^MajorSubsystemVersion[[:space:]]*5$" || fail "subsystem version is not 5.x"
echo "$dump" | grep -q "^MinorSubsystemVersion[[:space:]]*1$" || fail "subsystem version is not 5.1"

# Functions that XP's system DLLs lack and that the compiler's runtime, the
# threads library or our own code could pull in; GetTickCount64 came first.
xp_lacks="GetTickCount64 GetSystemTimePreciseAsFileTime
InitializeConditionVariable SleepConditionVariableCS SleepConditionVariableSRW WakeConditionVariable
WakeAllConditionVariable InitializeSRWLock AcquireSRWLockExclusive AcquireSRWLockShared ReleaseSRWLockExclusive
ReleaseSRWLockShared TryAcquireSRWLockExclusive TryAcquireSRWLockShared InitOnceInitialize InitOnceExecuteOnce
InitOnceBeginInitialize InitOnceComplete InitializeCriticalSectionEx InterlockedCompareExchange64
FlsAlloc FlsFree FlsGetValue FlsSetValue CreateEventExA CreateEventExW CreateMutexExA CreateMutexExW
CreateSemaphoreExW GetThreadId GetProcessIdOfThread GetCurrentProcessorNumber WaitOnAddress WakeByAddressSingle
WakeByAddressAll SetThreadDescription GetThreadDescription GetFinalPathNameByHandleW GetFileInformationByHandleEx
SetFileInformationByHandle CreateSymbolicLinkA CreateSymbolicLinkW QueryFullProcessImageNameA
QueryFullProcessImageNameW CancelIoEx GetErrorMode SetThreadErrorMode CompareStringEx LCMapStringEx
GetLocaleInfoEx GetUserDefaultLocaleName GetDynamicTimeZoneInformation RaiseFailFastException
SetDefaultDllDirectories AddDllDirectory SetProcessDPIAware ChangeWindowMessageFilter RegGetValueA RegGetValueW
RegDeleteTreeA RegDeleteTreeW inet_pton inet_ntop _get_errno _set_errno"

# Every imported function as DLL:name.
imports=$(echo "$dump" | awk '
  /^The Import Tables/ { inside = 1 }
  /^The Export Tables|^The Function Table|^PE File Base Relocations|^The \.rsrc/ { inside = 0 }
  inside && /DLL Name:/ { dll = $3 }
  inside && /^\t[0-9a-f]+\t +[0-9]+ +[A-Za-z_]/ { print dll ":" $3 }')
[ -n "$imports" ] || fail "no imports found"
echo "$(echo "$imports" | wc -l) imported functions"
bad=""
for name in $xp_lacks; do
  found=$(echo "$imports" | grep ":$name\$")
  [ -n "$found" ] && bad="$bad $found"
done
# The secure C library functions (name_s) came to msvcrt.dll with Vista.
secure=$(echo "$imports" | grep -i "^msvcrt.dll:.*_s\$")
[ -n "$secure" ] && bad="$bad $secure"
[ -z "$bad" ] || fail "imports that Windows XP lacks:$bad"

# Resources: type 3 (icons) under group 14 with id 128, 16 (version), 24 (manifest).
resources=$(echo "$dump" | sed -n '/^The .rsrc Resource Directory section/,$p')
echo "$resources" | grep -q "^0[0-9a-f]*   Entry: ID: 0x00000e" || fail "no icon group"
echo "$resources" | grep -q "Entry: ID: 0x000080" || fail "no icon 128"
echo "$resources" | grep -q "^0[0-9a-f]*   Entry: ID: 0x000010" || fail "no version information"
echo "$resources" | grep -q "^0[0-9a-f]*   Entry: ID: 0x000018" || fail "no manifest"
grep -aq "supportedOS" "$exe" || fail "the manifest names no supported systems"
echo "OK"
