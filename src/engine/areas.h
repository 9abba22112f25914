#pragma once
// The areas' headers, for the engine's own files: what transcriber.h only
// declares is defined here.

#include "correction/correction_pass.h"
#include "correction/run_correction.h"
#include "library/library.h"
#include "organize/organization_run.h"
#include "pipeline/file_pipeline.h"
#include "pipeline/process_runner.h"
#include "pipeline/tools.h"
#include "provisioning/ollama_installer.h"
#include "provisioning/ollama_runtime.h"
#include "provisioning/whisper_models.h"
#include "queue/file_queue.h"
#include "queue/scheduler.h"
#include "queue/state_store.h"
#include "remote/recognition_servers.h"
#include "watch/folder_watch.h"
