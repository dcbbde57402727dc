// The add-in interface: 32 operations in a fixed order that the host calls
// by position. The order of the virtual functions below IS the binary
// interface; never reorder, insert or remove one.
#pragma once

#include <cstdint>

#include "addin/mutex.h"
#include "addin/shared_state.h"

class LocalAddin {
public:
    /*  0 */ virtual bool Open();
    /*  1 */ virtual bool Close();
    /*  2 */ virtual std::int32_t SetDebugLevel(std::int32_t nLevel);
    /*  3 */ virtual bool IsValidDetector(std::int32_t nMcb, std::int32_t nDet) = 0;
    /*  4 */ virtual bool SendCommand(std::int32_t nMcb, std::int32_t nDet, const char* szCmd,
                                      std::int32_t nRespSize, char* szResp,
                                      std::int32_t* pnRespLen, std::int32_t* pnLocalErr,
                                      std::int32_t* pnStatus2) = 0;
    /*  5 */ virtual bool InitDetectors() = 0;
    /*  6 */ virtual void InvalidateMcb(std::int32_t nMcb);
    /*  7 */ virtual std::uint32_t GetLock(std::int32_t nMcb, std::int32_t nDet, char* szOwner,
                                           std::int32_t nSize);
    /*  8 */ virtual void SetLock(std::int32_t nMcb, std::int32_t nDet, std::uint32_t dwLock,
                                  const char* szOwner);
    /*  9 */ virtual std::uint32_t GetDetectorWord(std::int32_t nMcb, std::int32_t nDet);
    /* 10 */ virtual void SetDetectorWord(std::int32_t nMcb, std::int32_t nDet,
                                          std::uint32_t dwValue);
    /* 11 */ virtual bool GetMcbVersion(std::int32_t nMcb, char* szVersion, std::int32_t nSize);
    /* 12 */ virtual std::uint32_t GetDetectorChannels(std::int32_t nMcb, std::int32_t nDet);
    /* 13 */ virtual std::int32_t GetDetectorCount(std::int32_t nMcb);
    /* 14 */ virtual std::int32_t GetAppData(std::int32_t nMcb, std::int32_t nDet,
                                             const char* szName, const char* szDefault,
                                             char* szValue, std::int32_t nSize);
    /* 15 */ virtual bool SetAppData(std::int32_t nMcb, std::int32_t nDet, const char* szName,
                                     const char* szValue);
    /* 16 */ virtual std::uint32_t LocalGetStartTime(std::int32_t nMcb, std::int32_t nDet,
                                                     std::uint32_t* ptNow);
    /* 17 */ virtual void SetStartTime(std::int32_t nMcb, std::int32_t nDet, std::uint32_t dwUnused);
    /* 18 */ virtual bool GetDescription(std::int32_t nMcb, std::int32_t nDet, char* szDesc,
                                         std::int32_t nSize, bool* pbDefault);
    /* 19 */ virtual bool GetDetectorId(std::int32_t nMcb, std::int32_t nDet, std::uint32_t* pdwId,
                                        bool* pbDefault);
    /* 20 */ virtual std::int32_t SetROI(std::int32_t nMcb, std::int32_t nDet, std::uint32_t dwStart,
                                         std::uint32_t dwLength, std::int32_t nView,
                                         std::int32_t* pnLocalErr, std::int32_t* pnStatus2) = 0;
    /* 21 */ virtual std::int32_t ClearROI(std::int32_t nMcb, std::int32_t nDet,
                                           std::uint32_t dwStart, std::uint32_t dwLength,
                                           std::int32_t nView, std::int32_t* pnLocalErr,
                                           std::int32_t* pnStatus2) = 0;
    /* 22 */ virtual std::int32_t GetData(std::int32_t nMcb, std::int32_t nDet,
                                          std::uint32_t* pdwDataMask, std::uint32_t* pdwAuxMask,
                                          std::uint32_t dwReserved, std::uint32_t dwStart,
                                          std::int32_t nCount, std::int32_t nView,
                                          std::uint32_t* pdwBuffer) = 0;
    /* 23 */ virtual std::int32_t SetData(std::int32_t nMcb, std::int32_t nDet,
                                          std::uint32_t dwReserved, std::uint32_t dwStart,
                                          std::int32_t nCount, std::uint32_t dwView,
                                          const std::uint32_t* pdwValues) = 0;
    /* 24 */ virtual bool IsActive(std::int32_t nMcb, std::int32_t nDet, std::int32_t* pnStatus) = 0;
    /* 25 */ virtual bool GetFeatures(std::int32_t nMcb, std::int32_t nDet, std::uint32_t* pdwFeatures,
                                      std::int32_t nCount);
    // One slot, as the host expects: destroys the object and frees it when
    // bit 0 of the flags is set. A C++ virtual destructor would take two.
    /* 26 */ virtual void* DeletingDestructor(std::uint32_t dwFlags);
    /* 27 */ virtual void RefreshLocks();
    /* 28 */ virtual void ProcessStartup(std::uint32_t bFirst);
    /* 29 */ virtual void ProcessShutdown(std::uint32_t bLast);
    /* 30 */ virtual void BeforeFirstStartup();
    /* 31 */ virtual void AfterLastShutdown();

    // Fields, in the order the host sees them after the interface pointer.
    std::int32_t nFirstMcb;
    std::int32_t nMcbCount;
    std::uint32_t dwFixed;
    TAutoMutex mutex;
    McbRecord* pMcbTable;
    char szNameTag[16];
    std::int32_t* pnSystemOpenCount;

protected:
    explicit LocalAddin(const char* szTag);
    // Not virtual: slot 26 is the one destructor entry of the interface.
    ~LocalAddin();

    // The record of an MCB number (9 to 16), or null.
    McbRecord* Record(std::int32_t nMcb) const;
    // The record when IsValidDetector accepts the pair, else null. The
    // caller holds the mutex.
    McbRecord* ValidRecord(std::int32_t nMcb, std::int32_t nDet);
    // Reads "@LOCK" and "@START" of one detector into its record.
    void LoadDetectorValues(std::int32_t nMcb, std::int32_t nDet);
};
