// The printer-port add-in.
#pragma once

#include "addin/local_addin.h"

class Kestrel : public LocalAddin {
public:
    Kestrel();
    ~Kestrel() = default;

    bool IsValidDetector(std::int32_t nMcb, std::int32_t nDet) override;
    bool SendCommand(std::int32_t nMcb, std::int32_t nDet, const char* szCmd, std::int32_t nRespSize,
                     char* szResp, std::int32_t* pnRespLen, std::int32_t* pnLocalErr,
                     std::int32_t* pnStatus2) override;
    bool InitDetectors() override;
    void InvalidateMcb(std::int32_t nMcb) override;
    std::int32_t SetROI(std::int32_t nMcb, std::int32_t nDet, std::uint32_t dwStart,
                        std::uint32_t dwLength, std::int32_t nView, std::int32_t* pnLocalErr,
                        std::int32_t* pnStatus2) override;
    std::int32_t ClearROI(std::int32_t nMcb, std::int32_t nDet, std::uint32_t dwStart,
                          std::uint32_t dwLength, std::int32_t nView, std::int32_t* pnLocalErr,
                          std::int32_t* pnStatus2) override;
    std::int32_t GetData(std::int32_t nMcb, std::int32_t nDet, std::uint32_t* pdwDataMask,
                         std::uint32_t* pdwAuxMask, std::uint32_t dwReserved, std::uint32_t dwStart,
                         std::int32_t nCount, std::int32_t nView, std::uint32_t* pdwBuffer) override;
    std::int32_t SetData(std::int32_t nMcb, std::int32_t nDet, std::uint32_t dwReserved,
                         std::uint32_t dwStart, std::int32_t nCount, std::uint32_t dwView,
                         const std::uint32_t* pdwValues) override;
    bool IsActive(std::int32_t nMcb, std::int32_t nDet, std::int32_t* pnStatus) override;
    void ProcessStartup(std::uint32_t bFirst) override;
    void ProcessShutdown(std::uint32_t bLast) override;

private:
    std::int32_t RoiExchange(const char* szWho, const char* szKeyword, std::int32_t nMcb, std::int32_t nDet,
                             std::uint32_t dwStart, std::uint32_t dwLength, std::int32_t nView,
                             std::int32_t* pnLocalErr, std::int32_t* pnStatus2, char (&szCmd)[32]);
    // The channel word address of `dwStart` of a detector, or -1 with a
    // trace message when the run leaves the detector's channels.
    std::int64_t ChannelAddress(const char* szWho, const McbRecord& record, std::int32_t nDet,
                                std::uint32_t dwStart, std::int32_t nCount);
    std::int64_t TransferAddress(const char* szWho, std::int32_t nMcb, std::int32_t nDet, const McbRecord& record,
                                 std::uint32_t dwStart, std::int32_t nCount, const void* pBuffer);
};
