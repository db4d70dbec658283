# Checks the symbol tables of the two deliverables: every Cocoa member below is in the Cocoa
# build (COCOA) and none is in the Carbon build (CARBON).
set(MEMBERS
  "Kelvo_OSType::operator NSString*() const"
  "Kelvo_OSType::operator=(NSString*)"
  "Kelvo_TimeRange64::Kelvo_TimeRange64(QTTimeRange const&)"
  "Kelvo_TimeRange64::Kelvo_TimeRange64(NSString*)"
  "Kelvo_TimeRange64::operator=(QTTimeRange const&)"
  "Kelvo_TimeRange64::operator=(NSString*)"
  "Kelvo_TimeRange64::operator QTTimeRange() const"
  "Kelvo_TimeRange64::toQTTimeRange(QTTimeRange&) const"
  "Kelvo_TimeRange64::startInQTTime() const"
  "Kelvo_TimeRange64::durationInQTTime() const"
  "Kelvo_TimeRange64::endInQTTime() const"
  "Kelvo_TimeRange64::operator NSString*() const"
  "Kelvo_Point::Kelvo_Point(NSPoint const&)"
  "Kelvo_Point::operator=(NSPoint const&)"
  "Kelvo_Point::operator==(NSPoint const&) const"
  "Kelvo_Point::operator NSPoint() const"
  "Kelvo_Size::Kelvo_Size(NSSize const&)"
  "Kelvo_Size::operator=(NSSize const&)"
  "Kelvo_Size::operator==(NSSize const&) const"
  "Kelvo_Size::operator NSSize() const"
  "Kelvo_DataReference::systemPath()"
  "Kelvo_DataReference::urlPath()"
  "Kelvo_DataReference::toQTDataReference() const"
  "Kelvo_Movie::operator QTMovie*() const"
  "Kelvo_Movie::getQTMovie()"
  "Kelvo_Track::operator QTTrack*() const"
  "Kelvo_Track::getQTTrack()"
  "Kelvo_Track::parentQTContainer()"
  "Kelvo_Media::operator QTMedia*() const"
  "Kelvo_Media::getQTMedia()"
  "Kelvo_Media::parentQTContainer()")

foreach(lib COCOA CARBON)
  execute_process(COMMAND ${NM} -C ${${lib}} OUTPUT_VARIABLE symbols RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${NM} failed on ${${lib}}")
  endif()
  set(${lib}_SYMBOLS "${symbols}")
endforeach()

set(failed FALSE)
foreach(member IN LISTS MEMBERS)
  string(FIND "${COCOA_SYMBOLS}" "${member}" inCocoa)
  string(FIND "${CARBON_SYMBOLS}" "${member}" inCarbon)
  if(inCocoa EQUAL -1)
    message(SEND_ERROR "missing from the Cocoa build: ${member}")
    set(failed TRUE)
  endif()
  if(NOT inCarbon EQUAL -1)
    message(SEND_ERROR "present in the Carbon build: ${member}")
    set(failed TRUE)
  endif()
endforeach()
# No Foundation or QTKit stand-in either.
foreach(name "NSAutoreleasePool::" "NSError::" "QTDataReference::" "QTMovie::" "QTTrack::" "QTMedia::"
             "QTStringFromTime")
  string(FIND "${CARBON_SYMBOLS}" "${name}" inCarbon)
  if(NOT inCarbon EQUAL -1)
    message(SEND_ERROR "present in the Carbon build: ${name}")
    set(failed TRUE)
  endif()
endforeach()
if(failed)
  message(FATAL_ERROR "the Cocoa members are not where they belong")
endif()
