/* A KMUI driver for tests under wine: the device "\\.\KMUI32_1K" with the two
 * control codes, over a board that has the firmware table at one address, a
 * firmware that passes the service check and runs SMBus byte transactions at
 * once, and a controller at 0xAE that is a plain 256-byte register file.
 * Calls with another port or code than the table's are left unanswered, so a
 * library that did not use the table's values cannot pass the check. */
#include <ntddk.h>

#define PHYSICAL_READ_CODE 0xF1F82408u
#define FIRMWARE_CALL_CODE 0xF1F82418u
#define PHYSICAL_READ_LENGTH 1034u
#define FIRMWARE_CALL_LENGTH 18u

/* Where the table is and what it says; known to the test program too. */
#define TABLE_ADDRESS 0xE7C40u
#define CALL_PORT 0x4Du
#define CALL_CODE 0x5Au
#define CONTROLLER_ADDRESS 0xAEu

static UCHAR registers[256];
static UCHAR lastRead = 0xFF;
static UNICODE_STRING deviceName, linkName;

static ULONG le32(const UCHAR *p)
{
    return (ULONG)p[0] | (ULONG)p[1] << 8 | (ULONG)p[2] << 16 | (ULONG)p[3] << 24;
}

static void put32(UCHAR *p, ULONG v)
{
    p[0] = (UCHAR)v;
    p[1] = (UCHAR)(v >> 8);
    p[2] = (UCHAR)(v >> 16);
    p[3] = (UCHAR)(v >> 24);
}

static void physicalRead(UCHAR *block)
{
    static const UCHAR table[8] = {'$', 'O', 'R', 'V', 0x10, CALL_PORT, CALL_CODE, 0};
    const ULONG address = le32(block);
    RtlZeroMemory(block + 10, 1024);
    if (address == TABLE_ADDRESS)
        RtlCopyMemory(block + 10, table, sizeof table);
    put32(block + 6, 8);
}

static void firmwareCall(UCHAR *block)
{
    if (block[0] != CALL_PORT || block[1] != CALL_CODE)
        return;
    const ULONG ebx = le32(block + 6), ecx = le32(block + 10);
    const UCHAR device = (UCHAR)ebx, reg = (UCHAR)(ecx >> 8), data = (UCHAR)ecx;
    switch (ebx >> 16) {
    case 0: /* service check */
        put32(block + 6, 0x70479315u);
        put32(block + 10, 1);
        break;
    case 1: /* ready query */
        put32(block + 2, 1);
        break;
    case 2: /* start */
        if ((ebx >> 8 & 0xFF) == 1)
            lastRead = device == CONTROLLER_ADDRESS ? registers[reg] : 0xFF;
        else if (device == CONTROLLER_ADDRESS)
            registers[reg] = data;
        break;
    case 3: /* done query */
        put32(block + 2, 1);
        put32(block + 6, lastRead);
        break;
    }
}

static NTSTATUS complete(PIRP irp, NTSTATUS status, ULONG_PTR information)
{
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

static NTSTATUS WINAPI dispatchOpenClose(PDEVICE_OBJECT device, PIRP irp)
{
    (void)device;
    return complete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS WINAPI dispatchControl(PDEVICE_OBJECT device, PIRP irp)
{
    (void)device;
    IO_STACK_LOCATION *stack = IoGetCurrentIrpStackLocation(irp);
    const ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
    const ULONG length = stack->Parameters.DeviceIoControl.InputBufferLength;
    UCHAR *block = irp->AssociatedIrp.SystemBuffer;
    if (length != stack->Parameters.DeviceIoControl.OutputBufferLength || !block)
        return complete(irp, STATUS_INVALID_PARAMETER, 0);
    if (code == PHYSICAL_READ_CODE && length == PHYSICAL_READ_LENGTH)
        physicalRead(block);
    else if (code == FIRMWARE_CALL_CODE && length == FIRMWARE_CALL_LENGTH)
        firmwareCall(block);
    else
        return complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    return complete(irp, STATUS_SUCCESS, length);
}

static void WINAPI unload(PDRIVER_OBJECT driver)
{
    IoDeleteSymbolicLink(&linkName);
    if (driver->DeviceObject)
        IoDeleteDevice(driver->DeviceObject);
}

NTSTATUS WINAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath)
{
    (void)registryPath;
    RtlInitUnicodeString(&deviceName, L"\\Device\\KMUI32_1K");
    RtlInitUnicodeString(&linkName, L"\\DosDevices\\KMUI32_1K");
    PDEVICE_OBJECT device = NULL;
    NTSTATUS status = IoCreateDevice(driver, 0, &deviceName, FILE_DEVICE_UNKNOWN, 0, FALSE, &device);
    if (!NT_SUCCESS(status))
        return status;
    status = IoCreateSymbolicLink(&linkName, &deviceName);
    if (!NT_SUCCESS(status)) {
        IoDeleteDevice(device);
        return status;
    }
    driver->MajorFunction[IRP_MJ_CREATE] = dispatchOpenClose;
    driver->MajorFunction[IRP_MJ_CLOSE] = dispatchOpenClose;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = dispatchControl;
    driver->DriverUnload = unload;
    return STATUS_SUCCESS;
}
