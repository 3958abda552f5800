// win32 clock service
