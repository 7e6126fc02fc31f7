// zub_comm.h - the engine core's platform side in one include: event sends, timers, the job
// directory, the print layer, wall-clock helpers, the anchor and controller links.
#pragma once

#include "pub_pqe_jobtype.h"
#include "zub_anchor_link.h"
#include "zub_client_link.h"
#include "zub_job_dir.h"
#include "zub_msg.h"
#include "zub_msg_id.h"
#include "zub_print_layer.h"
#include "zub_time.h"
#include "zub_timer.h"
