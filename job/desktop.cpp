// The desktop programs' conversion: one job, and its failure in a message.
// Alone in its file, so that only a program that calls it needs a ShowError.
#include "job/job_internal.h"

void ConvertBlockDataToMqo(const char* inputPath, const char* outputPath) {
  Job job{};
  job.input = {JobSource::Path, inputPath, nullptr, 0};
  job.output = {JobTarget::Path, outputPath, {}, nullptr};
  job.format = MeshFormat::Mqo;
  // The document's own job: the mesh and the images stay out of the program.
  static JobReport report;
  const JobOutcome outcome = RunDocumentJob(job, &report);
  char message[kJobMessageMax];
  if (FormatJobMessage(outcome, job.format, message)) ShowError(message);
}
