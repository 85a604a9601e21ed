#include "crash_reporter/crash_report.h"

#include <protobuf-c/protobuf-c.h>

#include <cstring>
#include <memory>

#include "crash_reporter/crash_report.pb-c.h"
#include "crash_reporter/errors.h"
#include "crash_reporter/log_writer.h"

namespace crash {

// Grammar of a file:  "crashlg" version(1 byte, = 1) body(crashlg.CrashReport, to the end of the file).
// Each section is then checked for the fields the format requires, in the order the report is built;
// the first one missing ends the parse with its message.
struct CrashReportDecoder {
  std::string failure;  // the first failure, empty while all is well

  bool fail(const char* text) {
    if (failure.empty()) failure = text;
    return false;
  }

  // protobuf-c stores any number it reads into an enum field, also one the enum does not name; read
  // as the enum type such a value is undefined, so it is read as the integer it is.
  template <class Enum>
  static std::int32_t rawEnum(const Enum& value) {
    std::int32_t raw;
    static_assert(sizeof raw == sizeof value);
    std::memcpy(&raw, &value, sizeof raw);
    return raw;
  }

  static std::optional<std::string> optionalText(const char* value) {
    return value ? std::optional<std::string>(value) : std::nullopt;
  }

  bool processor(const Crashlg__CrashReport__Processor* in, TallyCrashReportProcessorInfo* out) {
    if (!in || !in->has_type || !in->has_subtype)
      return fail("Crash report is missing processor info section");
    out->typeEncoding =
        in->has_encoding ? rawEnum(in->encoding) : TallyCrashReportProcessorTypeEncodingUnknown;
    out->type = in->type;
    out->subtype = in->subtype;
    return true;
  }

  bool symbol(const Crashlg__CrashReport__Symbol* in, TallyCrashReportSymbolInfo* out) {
    if (!in->name || !in->has_start_address) return fail("Crash report is missing symbol information");
    out->symbolName = in->name;
    out->startAddress = in->start_address;
    out->endAddress = in->has_end_address ? in->end_address : 0;
    return true;
  }

  bool frames(Crashlg__CrashReport__Thread__StackFrame** in, size_t count,
              std::vector<TallyCrashReportStackFrameInfo>* out) {
    out->reserve(count);
    for (size_t i = 0; i < count; ++i) {
      if (!in[i]->has_pc) return fail("Crash report is missing stack frame information");
      TallyCrashReportStackFrameInfo frame;
      frame.instructionPointer = in[i]->pc;
      if (in[i]->symbol && !symbol(in[i]->symbol, &frame.symbolInfo.emplace())) return false;
      out->push_back(std::move(frame));
    }
    return true;
  }

  bool decode(const Crashlg__CrashReport* in, TallyCrashReport* out) {
    if (in->report_info && in->report_info->has_uuid) {
      if (in->report_info->uuid.len != 16) return fail("Report UUID value is not a standard 16 bytes");
      foundation::Uuid::Bytes bytes;
      std::memcpy(bytes.data(), in->report_info->uuid.data, 16);
      out->uuid_ = bytes;
    }
    out->userRequested_ =
        in->report_info && in->report_info->has_user_requested && in->report_info->user_requested;
    out->truncated_ = in->has_truncated && in->truncated;

    const auto* system = in->system_info;
    if (!system) return fail("Crash report is missing System Information section");
    if (!system->os_version) return fail("Crash report is missing System Information OS version field");
    auto& s = out->systemInfo_;
    s.operatingSystem = system->has_operating_system ? rawEnum(system->operating_system)
                                                     : TallyCrashReportOperatingSystemUnknown;
    s.operatingSystemVersion = system->os_version;
    s.operatingSystemBuild = optionalText(system->os_build);
    s.architecture =
        system->has_architecture ? rawEnum(system->architecture) : TallyCrashReportArchitectureUnknown;
    if (system->has_timestamp && system->timestamp != 0)
      s.timestamp = foundation::Date::fromUnix(static_cast<double>(system->timestamp));

    if (const auto* machine = in->machine_info) {
      auto& m = out->machineInfo_.emplace();
      m.modelName = optionalText(machine->model);
      if (!processor(machine->processor, &m.processorInfo)) return false;
      if (!machine->has_processor_count || !machine->has_logical_processor_count)
        return fail("Crash report is missing Machine Information section");
      m.processorCount = machine->processor_count;
      m.logicalProcessorCount = machine->logical_processor_count;
    }

    const auto* app = in->application_info;
    if (!app) return fail("Crash report is missing Application Information section");
    if (!app->identifier) return fail("Crash report is missing Application Information app identifier field");
    if (!app->version) return fail("Crash report is missing Application Information app version field");
    out->applicationInfo_ = {app->identifier, app->version};

    if (const auto* process = in->process_info) {
      if (!process->has_process_id || !process->has_parent_process_id || !process->has_native)
        return fail("Crash report is missing Process Information section");
      auto& p = out->processInfo_.emplace();
      p.processName = optionalText(process->process_name);
      p.processID = process->process_id;
      p.processPath = optionalText(process->process_path);
      if (process->has_start_time)
        p.processStartTime = foundation::Date::fromUnix(static_cast<double>(process->start_time));
      p.parentProcessName = optionalText(process->parent_process_name);
      p.parentProcessID = process->parent_process_id;
      p.native = process->native;
    }

    const auto* signal = in->signal;
    if (!signal) return fail("Crash report is missing Signal Information section");
    if (!signal->name) return fail("Crash report is missing signal name field");
    if (!signal->code) return fail("Crash report is missing signal code field");
    out->signalInfo_ = {signal->name, signal->code, signal->has_address ? signal->address : 0};
    if (const auto* mach = signal->mach_exception) {
      if (mach->n_codes >= 256) return fail("Crash report includes too many Mach Exception codes");
      if (!mach->has_type) return fail("Crash report is missing Mach Exception Information section");
      out->machExceptionInfo_ =
          TallyCrashReportMachExceptionInfo{mach->type, {mach->codes, mach->codes + mach->n_codes}};
    }

    // A report may hold no thread at all (the writer could not walk any), so none is no error.
    out->threads_.reserve(in->n_threads);
    for (size_t i = 0; i < in->n_threads; ++i) {
      const auto* thread = in->threads[i];
      if (!thread->has_thread_number || !thread->has_crashed)
        return fail("Crash report is missing thread state information");
      TallyCrashReportThreadInfo info;
      info.threadNumber = thread->thread_number;
      info.crashed = thread->crashed;
      if (!frames(thread->frames, thread->n_frames, &info.stackFrames)) return false;
      for (size_t r = 0; r < thread->n_registers; ++r) {
        if (!thread->registers[r]->name) return fail("Missing register name in register value");
        info.registers.push_back({thread->registers[r]->name, thread->registers[r]->value});
      }
      out->threads_.push_back(std::move(info));
    }

    // A report cut at its size cap may have lost its images; any other report has some.
    if (in->n_binary_images == 0 && !out->truncated_)
      return fail("Crash report is missing binary image information");
    for (size_t i = 0; i < in->n_binary_images; ++i) {
      const auto* image = in->binary_images[i];
      if (!image->name) return fail("Missing image name in image record");
      TallyCrashReportBinaryImageInfo info;
      if (image->code_type && !processor(image->code_type, &info.codeType.emplace())) return false;
      info.imageBaseAddress = image->base_address;
      info.imageSize = image->size;
      info.imageName = image->name;
      if (image->has_uuid) {
        static constexpr char kDigits[] = "0123456789abcdef";
        info.hasImageUUID = true;
        for (size_t b = 0; b < image->uuid.len; ++b) {
          info.imageUUID += kDigits[image->uuid.data[b] >> 4];
          info.imageUUID += kDigits[image->uuid.data[b] & 15];
        }
      }
      out->images_.push_back(std::move(info));
    }

    if (const auto* exception = in->exception) {
      if (!exception->name) return fail("Crash report is missing exception name field");
      if (!exception->reason) return fail("Crash report is missing exception reason field");
      auto& e = out->exceptionInfo_.emplace();
      e.exceptionName = exception->name;
      e.exceptionReason = exception->reason;
      if (!frames(exception->frames, exception->n_frames, &e.stackFrames)) return false;
    }
    return true;
  }
};

foundation::Result<TallyCrashReport> TallyCrashReport::initWithDataError(std::string_view data) {
  auto invalid = [](std::string text) {
    return crash_make_error(kCrashReporterErrorCrashReportInvalid, std::move(text));
  };
  if (data.size() <= 8) return invalid("Could not decode truncated crash log");
  if (std::memcmp(data.data(), CRASH_LOG_MAGIC, sizeof CRASH_LOG_MAGIC) != 0)
    return invalid("Could not decode invalid crash log header");
  const auto version = static_cast<std::uint8_t>(data[7]);
  if (version != CRASH_LOG_VERSION)
    return invalid("Could not decode unsupported crash report version: " + std::to_string(version));

  const std::unique_ptr<Crashlg__CrashReport, void (*)(Crashlg__CrashReport*)> message(
      crashlg__crash_report__unpack(nullptr, data.size() - 8,
                                    reinterpret_cast<const std::uint8_t*>(data.data()) + 8),
      [](Crashlg__CrashReport* m) { crashlg__crash_report__free_unpacked(m, nullptr); });
  if (!message) return invalid("An unknown error occured decoding the crash report");

  TallyCrashReport report;
  CrashReportDecoder decoder;
  if (!decoder.decode(message.get(), &report)) return invalid(decoder.failure);
  return report;
}

const TallyCrashReportBinaryImageInfo* TallyCrashReport::imageForAddress(std::uint64_t address) const {
  for (const auto& image : images_)
    if (image.imageBaseAddress <= address && address - image.imageBaseAddress < image.imageSize)
      return &image;
  return nullptr;
}

}  // namespace crash
