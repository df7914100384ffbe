#include "platform/posix/minidump/linux_minidump.h"

#include <elf.h>
#include <time.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "platform/posix/minidump/dump_output.h"
#include "platform/posix/minidump/minidump_facts.h"
#include "platform/posix/minidump/minidump_format.h"
#include "platform/posix/minidump/process_snapshot.h"
#include "platform/posix/minidump/signal_safe_io.h"
#include "platform/posix/minidump/thread_parking.h"

#if !defined(__x86_64__)
#error "The Linux minidump writer knows the x86-64 register layout only."
#endif

namespace qolv::platform::posix {
namespace {

namespace md = minidump;

// How much stack a dump keeps: enough for the frames a backtrace needs, bounded so that a
// service with hundreds of threads still writes a dump of a few megabytes.
constexpr size_t kCrashStackLimit = 256 * 1024;
constexpr size_t kOtherStackLimit = 64 * 1024;
// Leaf functions may keep data below the stack pointer (the x86-64 red zone).
constexpr uint64_t kRedZone = 128;
// A stack pointer that ran off its stack lies below it by at most this much.
constexpr uint64_t kOverflowReach = 64 * 1024;
// Bytes kept on each side of the crashing instruction.
constexpr uint64_t kCodeWindowHalf = 128;
constexpr size_t kMaxModules = 1024;
// A thread gets this long to answer the request to park; after this many threads did not
// answer, the rest are not asked (their stack and instruction pointers come from /proc).
constexpr uint32_t kParkWaitMs = 100;
constexpr int kMaxUnanswered = 8;
constexpr size_t kMaxBuildId = 64;
constexpr uint32_t kStreamCount = 8;

struct ThreadPlan {
  uint32_t id;
  const ucontext_t* context;  // all registers: the crashing thread's, or a parked thread's
  bool registers;             // at least sp and pc are known
  uint64_t sp;
  uint64_t pc;
  uint64_t stackStart;
  uint32_t stackSize;
};

struct ModulePlan {
  uint64_t base;
  uint64_t size;
  const char* path;
  uint32_t pathLength;
};

// Everything the writer needs lives here, not on the (alternate, small) signal stack and not on
// the heap. Only one dump is written at a time (see g_busy).
struct Storage {
  ProcessSnapshot snapshot;
  char output[64 * 1024];
  ThreadPlan threads[ProcessSnapshot::kMaxThreads];
  md::Thread threadEntries[ProcessSnapshot::kMaxThreads];
  ModulePlan modulePlans[kMaxModules];
  md::Module moduleEntries[kMaxModules];
  md::MemoryDescriptor memory[ProcessSnapshot::kMaxThreads + 1];
  md::ContextAmd64 context;
  Elf64_Phdr programHeaders[128];
  alignas(8) unsigned char notes[4096];
  uint16_t utf16[4096 + 2];
  char status[16 * 1024];
};

Storage g_storage;
std::atomic<bool> g_busy{false};

class Writer {
 public:
  Writer(int fd, const CrashContext& crash)
      : crash_(crash), s_(g_storage), out_(fd, g_storage.output, sizeof g_storage.output) {}

  int Run();

 private:
  void AddStream(uint32_t type, uint32_t rva, uint32_t size) {
    directory_[streams_++] = md::Directory{type, {size, rva}};
  }
  void AddMemory(uint64_t start, uint32_t rva, uint32_t size) {
    if (size > 0) s_.memory[memoryCount_++] = md::MemoryDescriptor{start, {size, rva}};
  }

  void WriteSystemInfo();
  void WriteMiscInfo();
  void PlanThreads();
  void WriteThreadList();
  void WriteExceptionStream();
  void WriteCodeWindow();
  void WriteModuleList();
  void WriteMemoryList();
  void WriteText(uint32_t type, const char* text, size_t length);

  void FillContext(const ThreadPlan& plan);
  bool StackSpan(uint64_t sp, size_t limit, uint64_t& start, uint32_t& size) const;
  size_t ReadBuildId(uint64_t base, unsigned char* id) const;
  uint32_t WriteUtf16String(const char* text, size_t length);

  const CrashContext& crash_;
  Storage& s_;
  DumpOutput out_;
  ThreadParking parking_;
  md::Directory directory_[kStreamCount] = {};
  uint32_t streams_ = 0;
  size_t threadCount_ = 0;
  size_t memoryCount_ = 0;
  uint32_t crashContextRva_ = 0;
};

int Writer::Run() {
  if (!s_.snapshot.Take()) return errno != 0 ? errno : EIO;
  out_.WriteZeros(sizeof(md::Header) + kStreamCount * sizeof(md::Directory));
  WriteSystemInfo();
  WriteMiscInfo();
  PlanThreads();
  WriteThreadList();
  WriteExceptionStream();
  WriteCodeWindow();
  WriteModuleList();
  WriteMemoryList();
  WriteText(md::kLinuxMapsStream, s_.snapshot.mapsText(), s_.snapshot.mapsLength());
  const long statusLength = ReadWholeFile("/proc/self/status", s_.status, sizeof s_.status);
  if (statusLength > 0) WriteText(md::kLinuxProcStatusStream, s_.status, static_cast<size_t>(statusLength));

  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  const md::Header header{
      md::kSignature, md::kVersion, streams_, sizeof(md::Header), 0, static_cast<uint32_t>(now.tv_sec), 0};
  out_.WriteAt(0, &header, sizeof header);
  out_.WriteAt(sizeof header, directory_, streams_ * sizeof(md::Directory));
  const bool written = out_.Finish();
  parking_.ReleaseAll();
  s_.snapshot.Release();
  return written ? 0 : out_.error();
}

void Writer::WriteSystemInfo() {
  const MinidumpFacts& facts = Facts();
  md::SystemInfo info = facts.systemInfo;
  const uint32_t rva = out_.position();
  info.csdVersionRva = rva + sizeof info;
  out_.Write(&info, sizeof info);
  WriteUtf16String(facts.osText, std::strlen(facts.osText));
  AddStream(md::kSystemInfoStream, rva, sizeof info);
}

void Writer::WriteMiscInfo() {
  out_.AlignTo(4);
  const md::MiscInfo misc{
      sizeof(md::MiscInfo), md::kMiscInfoProcessId, static_cast<uint32_t>(::getpid()), 0, 0, 0};
  AddStream(md::kMiscInfoStream, out_.position(), sizeof misc);
  out_.Write(&misc, sizeof misc);
}

// The crashing thread comes first, then every other thread the task folder lists. The others
// are parked (see ThreadParking), which gives their full registers and keeps their stacks still
// while they are copied. A thread that does not answer gets what /proc shows of it while it
// waits in the kernel: the stack and instruction pointers, enough for a debugger to unwind
// through code that keeps no frame pointer; one caught running gets an empty register record and
// no stack.
void Writer::PlanThreads() {
  const greg_t* regs = crash_.registers->uc_mcontext.gregs;
  s_.threads[0] = ThreadPlan{crash_.threadId,
                             crash_.registers,
                             true,
                             static_cast<uint64_t>(regs[REG_RSP]),
                             static_cast<uint64_t>(regs[REG_RIP]),
                             0,
                             0};
  threadCount_ = 1;
  const bool parking = parking_.Begin();
  int unanswered = 0;
  for (size_t i = 0; i < s_.snapshot.threadCount() && threadCount_ < ProcessSnapshot::kMaxThreads; ++i) {
    const uint32_t id = s_.snapshot.thread(i);
    if (id == crash_.threadId) continue;
    ThreadPlan plan{id, nullptr, false, 0, 0, 0, 0};
    if (parking && unanswered < kMaxUnanswered) {
      plan.context = parking_.Park(id, kParkWaitMs);
      if (plan.context == nullptr) ++unanswered;
    }
    if (plan.context != nullptr) {
      plan.registers = true;
      plan.sp = static_cast<uint64_t>(plan.context->uc_mcontext.gregs[REG_RSP]);
      plan.pc = static_cast<uint64_t>(plan.context->uc_mcontext.gregs[REG_RIP]);
    } else {
      plan.registers = WaitingThreadRegisters(id, plan.sp, plan.pc);
    }
    s_.threads[threadCount_++] = plan;
  }
  for (size_t i = 0; i < threadCount_; ++i) {
    ThreadPlan& plan = s_.threads[i];
    if (plan.registers)
      StackSpan(plan.sp, i == 0 ? kCrashStackLimit : kOtherStackLimit, plan.stackStart, plan.stackSize);
  }
}

void Writer::WriteThreadList() {
  out_.AlignTo(8);
  const uint32_t listRva = out_.position();
  const uint32_t count = static_cast<uint32_t>(threadCount_);
  out_.Write(&count, sizeof count);
  out_.WriteZeros(threadCount_ * sizeof(md::Thread));
  for (size_t i = 0; i < threadCount_; ++i) {
    const ThreadPlan& plan = s_.threads[i];
    FillContext(plan);
    out_.AlignTo(16);
    const uint32_t contextRva = out_.position();
    if (i == 0) crashContextRva_ = contextRva;
    out_.Write(&s_.context, sizeof s_.context);
    const uint32_t stackRva = out_.position();
    out_.CopyMemory(s_.snapshot, plan.stackStart, plan.stackSize);
    AddMemory(plan.stackStart, stackRva, plan.stackSize);
    md::Thread& entry = s_.threadEntries[i];
    entry = md::Thread{};
    entry.threadId = plan.id;
    entry.stack = md::MemoryDescriptor{plan.stackStart, {plan.stackSize, plan.stackSize > 0 ? stackRva : 0}};
    entry.threadContext = md::LocationDescriptor{sizeof(md::ContextAmd64), contextRva};
  }
  out_.WriteAt(listRva + sizeof count, s_.threadEntries, threadCount_ * sizeof(md::Thread));
  AddStream(md::kThreadListStream, listRva,
            static_cast<uint32_t>(sizeof count + threadCount_ * sizeof(md::Thread)));
}

// Signal number as the exception code, the signal's own code as the flags and the faulting
// address as the exception address: the way Linux minidumps are read by debuggers.
void Writer::WriteExceptionStream() {
  out_.AlignTo(8);
  md::ExceptionStream stream{};
  stream.threadId = crash_.threadId;
  stream.exceptionRecord.exceptionCode = static_cast<uint32_t>(crash_.signal);
  if (crash_.info != nullptr) {
    stream.exceptionRecord.exceptionFlags = static_cast<uint32_t>(crash_.info->si_code);
    stream.exceptionRecord.exceptionAddress = reinterpret_cast<uint64_t>(crash_.info->si_addr);
  }
  stream.threadContext = md::LocationDescriptor{sizeof(md::ContextAmd64), crashContextRva_};
  AddStream(md::kExceptionStream, out_.position(), sizeof stream);
  out_.Write(&stream, sizeof stream);
}

void Writer::WriteCodeWindow() {
  const uint64_t pc = s_.threads[0].pc;  // the crashing thread's
  const MappedRange* range = s_.snapshot.Find(pc);
  if (range == nullptr || !range->readable) return;
  const uint64_t start = pc - range->start > kCodeWindowHalf ? pc - kCodeWindowHalf : range->start;
  const uint64_t end = range->end - pc > kCodeWindowHalf ? pc + kCodeWindowHalf : range->end;
  const uint32_t rva = out_.position();
  out_.CopyMemory(s_.snapshot, start, end - start);
  AddMemory(start, rva, static_cast<uint32_t>(end - start));
}

// A module is a file whose first page is mapped (offset 0) and starts with an ELF header; it
// spans the following mappings of the same file.
void Writer::WriteModuleList() {
  const ProcessSnapshot& snap = s_.snapshot;
  size_t count = 0;
  for (size_t i = 0; i < snap.rangeCount() && count < kMaxModules; ++i) {
    const MappedRange& r = snap.range(i);
    if (r.offset != 0 || !r.readable || r.pathLength == 0 || r.path[0] != '/') continue;
    unsigned char magic[SELFMAG];
    if (snap.ReadMemory(r.start, magic, SELFMAG) != SELFMAG || std::memcmp(magic, ELFMAG, SELFMAG) != 0)
      continue;
    uint64_t end = r.end;
    for (size_t j = i + 1; j < snap.rangeCount(); ++j) {
      const MappedRange& next = snap.range(j);
      if (next.pathLength != r.pathLength || std::memcmp(next.path, r.path, r.pathLength) != 0) break;
      end = next.end;
    }
    s_.modulePlans[count++] = ModulePlan{r.start, end - r.start, r.path, r.pathLength};
  }

  out_.AlignTo(8);
  const uint32_t listRva = out_.position();
  const uint32_t count32 = static_cast<uint32_t>(count);
  out_.Write(&count32, sizeof count32);
  out_.WriteZeros(count * sizeof(md::Module));
  unsigned char record[4 + kMaxBuildId];
  for (size_t i = 0; i < count; ++i) {
    const ModulePlan& plan = s_.modulePlans[i];
    md::Module& entry = s_.moduleEntries[i];
    entry = md::Module{};
    entry.baseOfImage = plan.base;
    entry.sizeOfImage = static_cast<uint32_t>(plan.size);
    out_.AlignTo(4);
    entry.moduleNameRva = WriteUtf16String(plan.path, plan.pathLength);
    const size_t idLength = ReadBuildId(plan.base, record + 4);
    if (idLength > 0) {
      std::memcpy(record, &md::kCvSignatureElfBuildId, 4);
      out_.AlignTo(4);
      entry.cvRecord = md::LocationDescriptor{static_cast<uint32_t>(4 + idLength), out_.position()};
      out_.Write(record, 4 + idLength);
    }
  }
  out_.WriteAt(listRva + sizeof count32, s_.moduleEntries, count * sizeof(md::Module));
  AddStream(md::kModuleListStream, listRva,
            static_cast<uint32_t>(sizeof count32 + count * sizeof(md::Module)));
}

void Writer::WriteMemoryList() {
  out_.AlignTo(8);
  const uint32_t rva = out_.position();
  const uint32_t count = static_cast<uint32_t>(memoryCount_);
  out_.Write(&count, sizeof count);
  out_.Write(s_.memory, memoryCount_ * sizeof(md::MemoryDescriptor));
  AddStream(md::kMemoryListStream, rva,
            static_cast<uint32_t>(sizeof count + memoryCount_ * sizeof(md::MemoryDescriptor)));
}

void Writer::WriteText(uint32_t type, const char* text, size_t length) {
  const uint32_t rva = out_.position();
  out_.Write(text, length);
  AddStream(type, rva, static_cast<uint32_t>(length));
}

void Writer::FillContext(const ThreadPlan& plan) {
  md::ContextAmd64& c = s_.context;
  std::memset(&c, 0, sizeof c);
  c.contextFlags = md::kContextAmd64;
  if (plan.context == nullptr) {
    if (!plan.registers) return;
    c.contextFlags = md::kContextControl;
    c.rsp = plan.sp;
    c.rip = plan.pc;
    c.segCs = 0x33;  // the 64-bit user code and data selectors
    c.segSs = 0x2B;
    return;
  }
  const mcontext_t& m = plan.context->uc_mcontext;
  const greg_t* g = m.gregs;
  c.contextFlags =
      md::kContextControl | md::kContextInteger | md::kContextSegments | md::kContextFloatingPoint;
  c.rax = static_cast<uint64_t>(g[REG_RAX]);
  c.rcx = static_cast<uint64_t>(g[REG_RCX]);
  c.rdx = static_cast<uint64_t>(g[REG_RDX]);
  c.rbx = static_cast<uint64_t>(g[REG_RBX]);
  c.rsp = static_cast<uint64_t>(g[REG_RSP]);
  c.rbp = static_cast<uint64_t>(g[REG_RBP]);
  c.rsi = static_cast<uint64_t>(g[REG_RSI]);
  c.rdi = static_cast<uint64_t>(g[REG_RDI]);
  c.r8 = static_cast<uint64_t>(g[REG_R8]);
  c.r9 = static_cast<uint64_t>(g[REG_R9]);
  c.r10 = static_cast<uint64_t>(g[REG_R10]);
  c.r11 = static_cast<uint64_t>(g[REG_R11]);
  c.r12 = static_cast<uint64_t>(g[REG_R12]);
  c.r13 = static_cast<uint64_t>(g[REG_R13]);
  c.r14 = static_cast<uint64_t>(g[REG_R14]);
  c.r15 = static_cast<uint64_t>(g[REG_R15]);
  c.rip = static_cast<uint64_t>(g[REG_RIP]);
  c.eFlags = static_cast<uint32_t>(g[REG_EFL]);
  // The kernel packs cs, gs, fs and (on newer kernels) ss into one word.
  const uint64_t selectors = static_cast<uint64_t>(g[REG_CSGSFS]);
  c.segCs = static_cast<uint16_t>(selectors);
  c.segGs = static_cast<uint16_t>(selectors >> 16);
  c.segFs = static_cast<uint16_t>(selectors >> 32);
  c.segSs = static_cast<uint16_t>(selectors >> 48);
  if (c.segSs == 0) c.segSs = 0x2B;  // an older kernel leaves ss out; it is the user data selector
  if (m.fpregs != nullptr) {
    static_assert(sizeof(*m.fpregs) == sizeof c.floatSave);
    std::memcpy(c.floatSave, m.fpregs, sizeof c.floatSave);
    c.mxCsr = m.fpregs->mxcsr;
  }
}

bool Writer::StackSpan(uint64_t sp, size_t limit, uint64_t& start, uint32_t& size) const {
  const ProcessSnapshot& snap = s_.snapshot;
  const MappedRange* range = snap.Find(sp);
  uint64_t from = sp >= kRedZone ? sp - kRedZone : 0;
  if (range == nullptr || !range->readable) {
    // The pointer ran off the bottom of its stack (an overflow): keep the stack just above it.
    range = nullptr;
    for (size_t i = 0; i < snap.rangeCount(); ++i) {
      const MappedRange& r = snap.range(i);
      if (r.start <= sp) continue;
      if (r.start - sp <= kOverflowReach && r.readable) range = &r;
      break;
    }
    if (range == nullptr) return false;
    from = range->start;
  }
  if (from < range->start) from = range->start;
  const uint64_t to = range->end - from > limit ? from + limit : range->end;
  start = from;
  size = static_cast<uint32_t>(to - from);
  return true;
}

// The GNU build id from the module's note segments, read through the snapshot so a damaged
// module costs its id, not the dump.
size_t Writer::ReadBuildId(uint64_t base, unsigned char* id) const {
  const ProcessSnapshot& snap = s_.snapshot;
  Elf64_Ehdr header;
  if (snap.ReadMemory(base, &header, sizeof header) != sizeof header) return 0;
  if (header.e_ident[EI_CLASS] != ELFCLASS64 || header.e_phentsize != sizeof(Elf64_Phdr)) return 0;
  const size_t phdrBytes = header.e_phnum * sizeof(Elf64_Phdr);
  if (header.e_phnum == 0 || phdrBytes > sizeof s_.programHeaders) return 0;
  Elf64_Phdr* phdrs = s_.programHeaders;
  if (snap.ReadMemory(base + header.e_phoff, phdrs, phdrBytes) != phdrBytes) return 0;
  // The mapping at base holds the first loaded segment; the notes' addresses are relative to it.
  uint64_t bias = base;
  for (size_t i = 0; i < header.e_phnum; ++i) {
    if (phdrs[i].p_type == PT_LOAD) {
      bias = base - (phdrs[i].p_vaddr - phdrs[i].p_offset);
      break;
    }
  }
  for (size_t i = 0; i < header.e_phnum; ++i) {
    if (phdrs[i].p_type != PT_NOTE) continue;
    const size_t length = phdrs[i].p_memsz < sizeof s_.notes ? phdrs[i].p_memsz : sizeof s_.notes;
    unsigned char* notes = s_.notes;
    const size_t got = snap.ReadMemory(bias + phdrs[i].p_vaddr, notes, length);
    for (size_t at = 0; at + sizeof(Elf64_Nhdr) <= got;) {
      Elf64_Nhdr note;
      std::memcpy(&note, notes + at, sizeof note);
      const size_t nameAt = at + sizeof note;
      const size_t descAt = nameAt + ((note.n_namesz + 3) & ~size_t{3});
      const size_t next = descAt + ((note.n_descsz + 3) & ~size_t{3});
      if (next > got) break;
      if (note.n_type == NT_GNU_BUILD_ID && note.n_namesz == 4 &&
          std::memcmp(notes + nameAt, "GNU", 4) == 0 && note.n_descsz > 0 && note.n_descsz <= kMaxBuildId) {
        std::memcpy(id, notes + descAt, note.n_descsz);
        return note.n_descsz;
      }
      at = next;
    }
  }
  return 0;
}

// A MINIDUMP_STRING: its byte length, then the text in UTF-16 and a terminating zero. The UTF-8
// is decoded as far as it is valid; a broken byte becomes U+FFFD.
uint32_t Writer::WriteUtf16String(const char* text, size_t length) {
  const size_t capacity = sizeof s_.utf16 / sizeof s_.utf16[0] - 2;
  size_t units = 0;
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  const auto* const end = p + length;
  while (p < end && units < capacity) {
    uint32_t code = *p++;
    int extra = 0;
    if (code >= 0xF0 && code < 0xF8) {
      code &= 0x07;
      extra = 3;
    } else if (code >= 0xE0) {
      code &= 0x0F;
      extra = 2;
    } else if (code >= 0xC0) {
      code &= 0x1F;
      extra = 1;
    } else if (code >= 0x80) {
      code = 0xFFFD;
    }
    for (; extra > 0; --extra) {
      if (p == end || (*p & 0xC0) != 0x80) {
        code = 0xFFFD;
        break;
      }
      code = (code << 6) | (*p++ & 0x3F);
    }
    if (code >= 0x10000 && code <= 0x10FFFF) {
      code -= 0x10000;
      s_.utf16[units++] = static_cast<uint16_t>(0xD800 + (code >> 10));
      s_.utf16[units++] = static_cast<uint16_t>(0xDC00 + (code & 0x3FF));
    } else {
      s_.utf16[units++] = static_cast<uint16_t>(code > 0x10FFFF ? 0xFFFD : code);
    }
  }
  s_.utf16[units] = 0;
  const uint32_t rva = out_.position();
  const uint32_t bytes = static_cast<uint32_t>(units * 2);
  out_.Write(&bytes, sizeof bytes);
  out_.Write(s_.utf16, bytes + 2);
  return rva;
}

}  // namespace

int WriteLinuxMinidump(int fd, const CrashContext& crash) {
  if (g_busy.exchange(true, std::memory_order_acquire)) return EBUSY;
  Writer writer(fd, crash);
  const int result = writer.Run();
  g_busy.store(false, std::memory_order_release);
  return result;
}

}  // namespace qolv::platform::posix
