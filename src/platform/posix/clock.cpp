// posix clock service
