// VorlenComm.h - the chief header of the job platform: everything a job, a program's start-up or
// a test needs (word types, job table and message records, the XOS_/OSS_ job API, the platform
// log sink, the program profile and start-up functions, the job object and the control tasks).
//
// Who may call what is written at the top of each included header; in short:
//  - start-up thread: CNPlatform.h start-up functions, before and while tasks come up;
//  - control-task threads (inside a job entry): the whole job API, acting on the current job;
//  - any thread: services, CN_PlatLog, XOS_SendAsynMsgNJ/OSS_SendFromTask local path, lookups;
//  - reactor thread: the platform's own handlers; keep anything registered on it short.
#pragma once

#include "VorlenTypes.h"
#include "CNXosTypes.h"
#include "CNPlatLog.h"
#include "CNPlatform.h"
#include "XOS_Api.h"
#include "resource/XOS_Semaphore.h"
#include "resource/XOS_ShareMem.h"
#include "resource/XOS_CpuRate.h"
#include "CN_Job_Base.h"
#include "CNCtrlTask.h"
